// Stream sections of a compressed block: the per-stream form rules on the writing
// side, and the bounded unpacking of all sections of a block on the reading side.
#include "container/blocks/sections.h"

#include "container/blocks/entropy_estimate.h"
#include "entropy/stream_coder.h"

namespace orsk {

namespace {

// Absent streams read as zeros, so wide reads past their (empty) end stay defined.
const std::uint8_t kZeroStream[StreamReadSlack] = {};

Status WriteCoded(ByteSink& block, const std::uint8_t* data, std::size_t n) {
    if (!PutByte(block, SectionCoded)) return Status::NoRoom;
    return EncodeStream(data, n, block);
}

}  // namespace

Status WriteRawSection(ByteSink& block, const std::uint8_t* data, std::size_t n) {
    if (n == 0) return PutByte(block, SectionEmpty) ? Status::Ok : Status::NoRoom;
    if (Room(block) < 5 + n) return Status::NoRoom;
    *block.at++ = SectionRaw;
    StoreLE32(block.at, std::uint32_t(n));
    block.at += 4;
    std::memcpy(block.at, data, n);
    block.at += n;
    return Status::Ok;
}

Status WriteStreamSection(ByteSink& block, const std::uint8_t* data, std::size_t n, bool mayCode) {
    if (mayCode && n >= MinCodedLength) return WriteCoded(block, data, n);
    return WriteRawSection(block, data, n);
}

Status WriteLiteralSection(ByteSink& block, const std::uint8_t* data, std::size_t n, double entropyLimit) {
    if (n >= MinCodedLength && EntropyEstimate(data, n) <= entropyLimit) return WriteCoded(block, data, n);
    return WriteRawSection(block, data, n);
}

Status UnpackSections(ByteCursor payload, int count, DecodeBuffers& buffers, BlockStreams& out) {
    // Frame every section first, so that the coded ones decode side by side. The first
    // failure in section order wins: a framing failure ends the sections that follow it.
    // The payload is already bounded by its block, so a section running past it is
    // damage (Corrupt), not a container cut short.
    StreamJob jobs[MaxSections] = {};
    int jobCount = 0;
    Status framing = Status::Ok;
    for (int i = 0; i < count; ++i) {
        std::uint8_t kind;
        if (!TakeByte(payload, kind)) {
            framing = Status::Corrupt;
            break;
        }
        if (kind == SectionRaw) {
            std::uint32_t length;
            const std::uint8_t* p;
            // A writer makes an empty stream SectionEmpty, never a raw section of 0 bytes.
            if (!TakeLE32(payload, length) || length == 0 || !Take(payload, length, p)) {
                framing = Status::Corrupt;
                break;
            }
            out.stream[i] = {p, p + length};
        } else if (kind == SectionCoded) {
            std::uint32_t decoded, coded;
            const std::uint8_t* body;
            if (!TakeLE32(payload, decoded) || !TakeLE32(payload, coded) || !Take(payload, coded, body)) {
                framing = Status::Corrupt;
                break;
            }
            // A writer codes only non-empty streams no longer than a chunk.
            if (decoded == 0 || decoded > MaxStreamLength) {
                framing = Status::Corrupt;
                break;
            }
            std::uint8_t* buffer = buffers.stream[i];
            jobs[jobCount++] = StreamJob{body, coded, buffer, decoded};
            out.stream[i] = {buffer, buffer + decoded};
        } else if (kind == SectionEmpty) {
            out.stream[i] = {kZeroStream, kZeroStream};
        } else {
            framing = Status::Corrupt;  // no writer makes another kind
            break;
        }
    }

    Status decoded[MaxSections];
    if (jobCount != 0) DecodeStreams(jobs, jobCount, decoded, *buffers.tables);
    for (int j = 0; j < jobCount; ++j) {
        if (decoded[j] != Status::Ok) return decoded[j];  // sections before the framing failure
    }
    if (framing != Status::Ok) return framing;
    for (int i = count; i < MaxSections; ++i) out.stream[i] = {kZeroStream, kZeroStream};
    // A writer's sections end exactly where its block ends.
    return payload.at == payload.end ? Status::Ok : Status::Corrupt;
}

}  // namespace orsk
