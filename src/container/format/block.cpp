// One chunk into one block (entropy estimate, store decision, the level's compressor)
// and one framed block back into its chunk, with every limit of the format checked.
#include "container/format/block.h"

#include <cstring>

#include "container/blocks/entropy_estimate.h"

namespace orsk {

namespace {

std::size_t WriteStoredBlock(std::uint8_t* block, const std::uint8_t* chunk, std::size_t n) {
    block[0] = StoredBlockKind;
    StoreLE32(block + 1, std::uint32_t(n));
    StoreLE32(block + 5, std::uint32_t(n));
    std::memcpy(block + StoredHeaderLength, chunk, n);
    return StoredHeaderLength + n;
}

// A chunk at an effort: the effort's parse is kept only when its block is shorter than
// the level's own parse's (a parse priced by estimates can come out longer, as level 5
// did on JSON), so that no effort writes a larger container than effort 0.
Status CompressAtEffort(const LevelInfo& info, CodecScratch& scratch, unsigned effort, const std::uint8_t* chunk,
                        std::size_t n, ByteSink& sink) {
    std::uint8_t* const spare = scratch.Spare();
    if (spare == nullptr) return Status::OutOfMemory;
    static_assert(BlockBound(MaxChunkLength) <= OutputBlockBufferSize);
    ByteSink other{spare, spare, spare + BlockBound(n)};
    const Status s = info.compressEffort(scratch.encoder(), effort, chunk, n, other);
    const Status own = info.compress(scratch.encoder(), chunk, n, sink);
    if (s == Status::Ok && (own != Status::Ok || Written(other) < Written(sink))) {
        std::memcpy(sink.begin, spare, Written(other));
        sink.at = sink.begin + Written(other);
        return Status::Ok;
    }
    return own;
}

// The store decision and the level's compressor for chunk[0..n), written to `block`
// (BlockBound(n) bytes of room). `filterable` is the same chunk when it may be changed
// in place, which NORMAL's filter needs; null otherwise (never at NORMAL).
Status CompressChunkTo(Level level, CodecScratch& scratch, const std::uint8_t* chunk, std::uint8_t* filterable,
                       std::size_t n, std::uint8_t* block, ChunkOutcome& out, const StageClock* clock,
                       unsigned effort) {
    const LevelInfo& info = LevelOf(level);
    if (n == 0 || n > MaxChunkLength || effort > MaxEffort) return Status::Corrupt;
    // Levels without an effort parse write their own at every effort.
    const bool atEffort = effort != 0 && info.compressEffort != nullptr;
    if (atEffort) {
        if (Status s = scratch.PrepareEffort(); s != Status::Ok) return s;
    }
    if (info.filter != nullptr && filterable != chunk) return Status::Corrupt;
    const auto now = [clock] { return clock != nullptr ? clock->now() : 0; };
    const auto since = [clock](std::int64_t start, std::int64_t end) {
        return clock != nullptr ? clock->micros(start, end) : 0;
    };

    const std::int64_t t0 = now();
    out.entropy = EntropyEstimate(chunk, n);
    out.entropyMicros = since(t0, now());
    out.lzMicros = 0;

    bool compressed = info.storeThreshold > out.entropy;
    if (compressed) {
        const std::int64_t t2 = now();
        if (info.filter != nullptr) info.filter(filterable, n);
        // No block may outgrow BlockBound (the memory path's promise to callers).
        ByteSink sink{block, block, block + BlockBound(n)};
        const Status s = atEffort ? CompressAtEffort(info, scratch, effort, chunk, n, sink)
                                  : info.compress(scratch.encoder(), chunk, n, sink);
        out.lzMicros = since(t2, now());
        if (s != Status::Ok) {
            compressed = false;  // a block that does not fit is stored instead
        } else {
            out.blockLength = Written(sink);
            if (info.keepOnlyShorter && out.blockLength >= n) compressed = false;
        }
        if (!compressed && info.unfilter != nullptr) info.unfilter(filterable, n);
    }
    if (!compressed) out.blockLength = WriteStoredBlock(block, chunk, n);
    out.stored = !compressed;
    return Status::Ok;
}

}  // namespace

Status CompressChunk(Level level, JobBuffers& job, CodecScratch& scratch, std::size_t n, ChunkOutcome& out,
                     const StageClock* clock, unsigned effort) {
    return CompressChunkTo(level, scratch, job.chunk(), job.chunk(), n, job.block(), out, clock, effort);
}

Status CompressChunkAt(Level level, CodecScratch& scratch, const std::uint8_t* chunk, std::size_t n,
                            std::uint8_t* block, ChunkOutcome& out, unsigned effort) {
    return CompressChunkTo(level, scratch, chunk, nullptr, n, block, out, nullptr, effort);
}

std::size_t BlockHeaderLength(std::uint8_t kind) {
    if (kind == StoredBlockKind) return StoredHeaderLength;
    if (kind == CompressedBlockKind) return CompressedHeaderLength;
    return 0;
}

Status BlockTotalLength(Level level, const std::uint8_t* header, std::size_t& total) {
    if (header[0] == StoredBlockKind) {
        const std::uint32_t a = LoadLE32(header + 1);
        const std::uint32_t b = LoadLE32(header + 5);
        // Every block restores one chunk of 1 to MaxChunkLength bytes.
        if (a != b || a == 0 || a > MaxChunkLength) return Status::Corrupt;
        total = StoredHeaderLength + a;
        return Status::Ok;
    }
    if (header[0] != CompressedBlockKind) return Status::Corrupt;
    const LevelInfo& info = LevelOf(level);
    const BlockHeader h = ReadBlockHeader(header, info.headerOrder);
    if (h.chunkLength == 0 || h.chunkLength > MaxChunkLength || h.blockLength > OutputBlockBufferSize) {
        return Status::Corrupt;
    }
    // The header, the OffsetLowBytes and at least a kind byte per section.
    if (h.blockLength < CompressedHeaderLength + std::uint64_t(h.offsetLowLength) + unsigned(info.sections)) {
        return Status::Corrupt;
    }
    total = h.blockLength;
    return Status::Ok;
}

Status BlockBytesWanted(Level level, const std::uint8_t* block, std::size_t have, std::size_t& wanted) {
    const std::size_t headerLength = BlockHeaderLength(block[0]);
    if (headerLength == 0) return Status::Corrupt;
    if (have < headerLength) {
        wanted = headerLength;
        return Status::Ok;
    }
    return BlockTotalLength(level, block, wanted);  // never below the header's length
}

std::uint32_t ClaimedChunkLength(Level level, const std::uint8_t* header) {
    if (header[0] == StoredBlockKind) return LoadLE32(header + 1);
    return ReadBlockHeader(header, LevelOf(level).headerOrder).chunkLength;
}

Status RestoreBlock(Level level, CodecScratch& scratch, std::uint8_t* restored, const std::uint8_t* block,
                    std::size_t total, RestoredBlock& out) {
    std::size_t expected;
    if (Status s = BlockTotalLength(level, block, expected); s != Status::Ok) return s;
    if (expected != total) return Status::Corrupt;

    if (block[0] == StoredBlockKind) {
        out = {block + StoredHeaderLength, total - StoredHeaderLength, true, std::uint32_t(total)};
        return Status::Ok;
    }

    const LevelInfo& info = LevelOf(level);
    const BlockHeader h = ReadBlockHeader(block, info.headerOrder);  // checked above
    ByteCursor payload{block + CompressedHeaderLength, block + total};

    BlockStreams streams;
    streams.sequenceCount = h.sequenceCount;
    const std::uint8_t* low;
    if (!Take(payload, h.offsetLowLength, low)) return Status::Corrupt;
    streams.offsetLow = {low, low + h.offsetLowLength};
    if (Status s = UnpackSections(payload, info.sections, scratch.decodeBuffers(), streams); s != Status::Ok) return s;

    ByteSink sink{restored, restored, restored + h.chunkLength};
    if (Status s = info.decode(streams, sink); s != Status::Ok) return s;
    if (Written(sink) != h.chunkLength) return Status::Corrupt;
    if (info.unfilter != nullptr) info.unfilter(restored, h.chunkLength);
    out = {restored, h.chunkLength, false, std::uint32_t(total)};
    return Status::Ok;
}

}  // namespace orsk
