// Stream encoder: one byte stream to a coded section body (N, S, symbol order,
// LengthCounts, then the codes packed most significant bit first into 64-bit words).
#include <cassert>

#include "entropy/stream_coder.h"

namespace orsk {

namespace {

// Everything the body depends on besides the bytes themselves.
struct StreamCode {
    unsigned symbolCount = 0;
    std::uint32_t lengthCounts[MaxCodeLength + 1] = {};
    CodeEntry codes[256];
    std::uint64_t bitCount = 0;  // total code bits of the stream
};

void PlanStreamCode(const std::uint8_t* data, std::size_t n, StreamCode& plan) {
    std::uint32_t histogram[256];
    CodeEntry symbols[256];
    plan.symbolCount = CountSymbols(data, n, histogram, symbols);
    BuildPrefixCode(plan.symbolCount, plan.lengthCounts, symbols, plan.codes);
    plan.bitCount = 0;
    for (unsigned i = 0; i < plan.symbolCount; ++i) {
        plan.bitCount += std::uint64_t(plan.codes[i].count) * plan.codes[i].length;
    }
}

std::size_t BodySize(const StreamCode& plan) {
    const std::size_t wordCount = std::size_t((plan.bitCount + 63) / 64);
    return CodedStreamFixedBytes + plan.symbolCount + 8 * wordCount;
}

// Appends codes most significant bit first. `acc` holds `used` pending bits at its
// top (used < 64 between calls); a full word is stored as soon as it completes.
struct BitWriter {
    std::uint64_t acc = 0;
    unsigned used = 0;
    std::uint8_t* at = nullptr;

    // code < 2^length, 1 <= length <= 64
    void Put(std::uint64_t code, unsigned length) {
        const unsigned room = 64 - used;
        if (length < room) {
            acc |= code << (room - length);
            used += length;
        } else {
            const unsigned rest = length - room;  // bits that go to the next word
            StoreLE64(at, acc | (code >> rest));
            at += 8;
            acc = rest != 0 ? code << (64 - rest) : 0;
            used = rest;
        }
    }
    void Finish() {
        if (used != 0) {
            StoreLE64(at, acc);
            at += 8;
        }
    }
};

}  // namespace

std::size_t CodedStreamSize(const std::uint8_t* data, std::size_t n) {
    StreamCode plan;
    PlanStreamCode(data, n, plan);
    return BodySize(plan);
}

Status EncodeStream(const std::uint8_t* data, std::size_t n, ByteSink& sink) {
    // An empty stream has no coded form (its n - 1 byte would read as 256 symbols).
    if (n == 0 || n > MaxStreamLength) return Status::NoRoom;
    StreamCode plan;
    PlanStreamCode(data, n, plan);
    const std::size_t size = BodySize(plan);
    if (Room(sink) < size) return Status::NoRoom;

    // Every store below lies inside the `size` bytes just checked.
    std::uint8_t* p = sink.at;
    StoreLE32(p, std::uint32_t(n));
    StoreLE32(p + 4, std::uint32_t(size - 8));
    p[8] = std::uint8_t(plan.symbolCount - 1);
    p += 9;
    for (unsigned i = 0; i < plan.symbolCount; ++i) *p++ = std::uint8_t(plan.codes[i].symbol);
    for (unsigned length = 0; length <= MaxCodeLength; ++length) {
        *p++ = std::uint8_t(plan.lengthCounts[length] >> 8);
        *p++ = std::uint8_t(plan.lengthCounts[length]);
    }

    // code in the low 16 bits, length above
    std::uint32_t table[256] = {};
    for (unsigned i = 0; i < plan.symbolCount; ++i) {
        table[plan.codes[i].symbol] = plan.codes[i].code | (std::uint32_t(plan.codes[i].length) << 16);
    }

    BitWriter writer;
    writer.at = p;
    // Eight bytes per step as two groups of four: four codes of at most 12 bits join
    // into one piece of at most 48 bits, so each group costs one Put.
    std::size_t i = 0;
    for (; n - i > 16; i += 8) {
        const std::uint64_t v = LoadLE64(data + i);
        for (unsigned half = 0; half < 2; ++half) {
            std::uint64_t piece = 0;
            unsigned pieceLength = 0;
            for (unsigned k = 0; k < 4; ++k) {
                const std::uint32_t e = table[(v >> (32 * half + 8 * k)) & 0xFF];
                const unsigned length = e >> 16;
                piece = (piece << length) | (e & 0xFFFF);
                pieceLength += length;
            }
            writer.Put(piece, pieceLength);
        }
    }
    for (; i < n; ++i) {
        const std::uint32_t e = table[data[i]];
        writer.Put(e & 0xFFFF, e >> 16);
    }
    writer.Finish();
    assert(writer.at == sink.at + size);

    sink.at += size;
    return Status::Ok;
}

}  // namespace orsk
