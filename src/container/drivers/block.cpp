// One chunk into one block (entropy estimate, store decision, the level's compressor)
// and one framed block back into its chunk, with every limit of the format checked.
#include "container/drivers/block.h"

#include <cstring>

#include "codecs/best/best.h"
#include "codecs/better/better.h"
#include "codecs/fast/fast.h"
#include "codecs/hyperfast/hyperfast.h"
#include "codecs/normal/normal.h"
#include "codecs/superfast/superfast.h"
#include "container/blocks/entropy_estimate.h"
#include "platform/platform.h"

namespace orsk {

double StoreThreshold(Level level) {
    static const double thresholds[LevelCount] = {6.0, 6.1, 6.5, 6.7, 7.6, 7.65};
    return thresholds[unsigned(level)];
}

namespace {

Status CompressWithLevel(Level level, EncoderScratch& scratch, const std::uint8_t* chunk, std::size_t n,
                         ByteSink& block) {
    switch (level) {
        case Level::Hyperfast: return HyperfastCompressBlock(HyperfastSettings{}, scratch, chunk, n, block);
        case Level::Superfast: return SuperfastCompressBlock(SuperfastSettings{}, scratch, chunk, n, block);
        case Level::Fast: return FastCompressBlock(FastSettings{}, scratch, chunk, n, block);
        case Level::Normal: return NormalCompressBlock(NormalSettings{}, scratch, chunk, n, block);
        case Level::Better: return BetterCompressBlock(BetterSettings{}, scratch, chunk, n, block);
        case Level::Best: return BestCompressBlock(BestSettings{}, scratch, chunk, n, block);
    }
    return Status::Corrupt;
}

Status DecodeWithLevel(Level level, const BlockStreams& in, ByteSink& out) {
    switch (level) {
        case Level::Hyperfast: return HyperfastDecodeBlock(in, out);
        case Level::Superfast: return SuperfastDecodeBlock(in, out);
        case Level::Fast: return FastDecodeBlock(in, out);
        case Level::Normal: return NormalDecodeBlock(in, out);
        case Level::Better: return BetterDecodeBlock(in, out);
        case Level::Best: return BestDecodeBlock(in, out);
    }
    return Status::Corrupt;
}

std::size_t WriteStoredBlock(std::uint8_t* block, const std::uint8_t* chunk, std::size_t n) {
    block[0] = StoredBlockKind;
    StoreLE32(block + 1, std::uint32_t(n));
    StoreLE32(block + 5, std::uint32_t(n));
    std::memcpy(block + StoredHeaderLength, chunk, n);
    return StoredHeaderLength + n;
}

// The store decision and the level's compressor for chunk[0..n), written to `block`
// (BlockBound(n) bytes of room). `filterable` is the same chunk when it may be changed
// in place, which NORMAL's filter needs; null otherwise (never at NORMAL).
Status CompressChunkTo(Level level, CodecScratch& scratch, const std::uint8_t* chunk, std::uint8_t* filterable,
                       std::size_t n, std::uint8_t* block, ChunkOutcome& out) {
    if (n == 0 || n > MaxChunkLength) return Status::Corrupt;
    if (level == Level::Normal && filterable != chunk) return Status::Corrupt;
    const std::int64_t frequency = platform::CounterFrequency();

    const std::int64_t t0 = platform::CounterNow();
    out.entropy = EntropyEstimate(chunk, n);
    const std::int64_t t1 = platform::CounterNow();
    out.entropyMicros = platform::StageMicros(t0, t1, frequency);
    out.lzMicros = 0;

    bool compressed = StoreThreshold(level) > out.entropy;
    if (compressed) {
        const std::int64_t t2 = platform::CounterNow();
        if (level == Level::Normal) ApplyCallAddressFilter(filterable, n);
        // No block may outgrow BlockBound (the memory path's promise to callers).
        ByteSink sink{block, block, block + BlockBound(n)};
        const Status s = CompressWithLevel(level, scratch.encoder(), chunk, n, sink);
        out.lzMicros = platform::StageMicros(t2, platform::CounterNow(), frequency);
        if (s != Status::Ok) {
            compressed = false;  // a block that does not fit is stored instead
        } else {
            out.blockLength = Written(sink);
            // Levels 0 and 1 keep a block only when it is shorter than its chunk.
            if ((level == Level::Hyperfast || level == Level::Superfast) && out.blockLength >= n) compressed = false;
        }
        if (!compressed && level == Level::Normal) RevertCallAddressFilter(filterable, n);
    }
    if (!compressed) out.blockLength = WriteStoredBlock(block, chunk, n);
    out.stored = !compressed;
    return Status::Ok;
}

}  // namespace

Status CompressChunk(Level level, JobBuffers& job, CodecScratch& scratch, std::size_t n, ChunkOutcome& out) {
    return CompressChunkTo(level, scratch, job.chunk(), job.chunk(), n, job.block(), out);
}

Status CompressChunkAt(Level level, CodecScratch& scratch, const std::uint8_t* chunk, std::size_t n,
                            std::uint8_t* block, ChunkOutcome& out) {
    return CompressChunkTo(level, scratch, chunk, nullptr, n, block, out);
}

std::size_t BlockHeaderLength(Level level, std::uint8_t kind) {
    if (kind == StoredBlockKind) return StoredHeaderLength;
    if (kind == CompressedBlockKind) return level == Level::Normal ? StoredHeaderLength : CompressedHeaderLength;
    return 0;
}

Status BlockTotalLength(Level level, const std::uint8_t* header, std::size_t& total) {
    if (header[0] == StoredBlockKind) {
        const std::uint32_t a = LoadLE32(header + 1);
        const std::uint32_t b = LoadLE32(header + 5);
        if (a != b || a > OutputBlockBufferSize) return Status::Corrupt;
        total = StoredHeaderLength + a;
        return Status::Ok;
    }
    if (header[0] != CompressedBlockKind) return Status::Corrupt;
    const std::uint32_t length = LoadLE32(header + (level == Level::Normal ? 5 : 13));
    // Both header orders hold four u32 fields behind the kind byte.
    if (length < CompressedHeaderLength || length > OutputBlockBufferSize) return Status::Corrupt;
    total = length;
    return Status::Ok;
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

    std::uint32_t sequenceCount, chunkLength, lowLength;
    ByteCursor payload;
    if (level == Level::Normal) {
        // Order B: the last two fields open the payload.
        chunkLength = LoadLE32(block + 1);
        sequenceCount = LoadLE32(block + 9);
        lowLength = LoadLE32(block + 13);
    } else {
        sequenceCount = LoadLE32(block + 1);
        chunkLength = LoadLE32(block + 5);
        lowLength = LoadLE32(block + 9);
    }
    payload = {block + CompressedHeaderLength, block + total};
    if (chunkLength > MaxChunkLength) return Status::Corrupt;

    BlockStreams streams;
    streams.sequenceCount = sequenceCount;
    const std::uint8_t* low;
    if (!Take(payload, lowLength, low)) return Status::Corrupt;
    streams.offsetLow = {low, low + lowLength};
    const int sections = level == Level::Best ? 7 : 6;
    if (Status s = UnpackSections(payload, sections, scratch.decodeBuffers(), streams); s != Status::Ok) return s;

    ByteSink sink{restored, restored, restored + chunkLength};
    if (Status s = DecodeWithLevel(level, streams, sink); s != Status::Ok) return s;
    if (Written(sink) != chunkLength) return Status::Corrupt;
    if (level == Level::Normal) RevertCallAddressFilter(restored, chunkLength);
    out = {restored, chunkLength, false, std::uint32_t(total)};
    return Status::Ok;
}

}  // namespace orsk
