// One chunk into one block and one block back: the single path every driver
// (files, memory, tests, fuzzers) goes through.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/format.h"
#include "container/blocks/workspace.h"
#include "container/format/levels.h"

namespace orsk {

// Upper bound of the block a chunk of n bytes becomes; the compressors stay inside it.
constexpr std::size_t BlockBound(std::size_t n) { return n + n / 16 + 2048; }
static_assert(BlockBound(MaxChunkLength) <= OutputBlockBufferSize);

// A clock for stage timings, given by a caller that reports them: the library reads no
// clock of its own. `micros` turns two readings of `now` into microseconds.
struct StageClock {
    std::int64_t (*now)();
    std::int64_t (*micros)(std::int64_t start, std::int64_t end);
};

struct ChunkOutcome {
    double entropy = 0.0;
    bool stored = false;
    std::size_t blockLength = 0;
    std::int64_t entropyMicros = 0;  // with a clock only
    std::int64_t lzMicros = 0;       // includes NORMAL's filter
};

// Compresses job.chunk()[0..n) (1 <= n <= MaxChunkLength) into job.block(), stored or
// compressed by the level's rules. The chunk's bytes may be changed in place. With a
// clock, the entropy estimate and the compressor are timed. An effort of 1 to
// MaxEffort compresses with the level's harder parse (same format); above, Corrupt.
[[nodiscard]] Status CompressChunk(Level level, JobBuffers& job, CodecScratch& scratch, std::size_t n,
                                   ChunkOutcome& out, const StageClock* clock = nullptr, unsigned effort = 0);
[[nodiscard]] inline Status CompressChunk(Level level, BlockWorkspace& ws, std::size_t n, ChunkOutcome& out,
                                          unsigned effort = 0) {
    return CompressChunk(level, ws.job, ws.codec, n, out, nullptr, effort);
}

// The same for a chunk left where the caller holds it, written straight to `block`
// (BlockBound(n) bytes of room), so that neither is copied. The chunk is only read: not
// for NORMAL, whose filter changes it (Corrupt). InputSlack readable bytes must follow
// it; the blocks do not depend on them.
[[nodiscard]] Status CompressChunkAt(Level level, CodecScratch& scratch, const std::uint8_t* chunk,
                                          std::size_t n, std::uint8_t* block, ChunkOutcome& out,
                                          unsigned effort = 0);

// Bytes of fixed header (kind byte included) a reader needs to know a block's length;
// 0 for a kind byte the format does not know. Every compressed block holds the whole
// 17-byte header, whatever the order of its fields.
std::size_t BlockHeaderLength(std::uint8_t kind);
// The total length of a block from its fixed header, checked against the buffers.
[[nodiscard]] Status BlockTotalLength(Level level, const std::uint8_t* header, std::size_t& total);
// How many bytes of the block that starts at block[0] a reader must hold before it can
// go on, given the `have` bytes (at least the kind byte) it holds: the fixed header's
// length while that is incomplete, then the block's total length. Corrupt for an unknown
// kind byte or a header that breaks the format. Readers of whole buffers and of
// streams frame blocks with it alike.
[[nodiscard]] Status BlockBytesWanted(Level level, const std::uint8_t* block, std::size_t have, std::size_t& wanted);
// The number of bytes a block restores, as its fixed header claims (1 to MaxChunkLength
// once BlockTotalLength accepted the header).
std::uint32_t ClaimedChunkLength(Level level, const std::uint8_t* header);

struct RestoredBlock {
    const std::uint8_t* data = nullptr;  // the restored chunk (in the block or ws.restored())
    std::size_t length = 0;
    bool stored = false;
    std::uint32_t blockLength = 0;       // as recorded (stored: the chunk length)
};

// Restores the whole block [block, block + total) into `restored` (OutputBlockBufferSize
// bytes) unless it is stored. StreamReadSlack readable bytes must follow the block.
// Nothing is produced unless every check passes.
[[nodiscard]] Status RestoreBlock(Level level, CodecScratch& scratch, std::uint8_t* restored,
                                  const std::uint8_t* block, std::size_t total, RestoredBlock& out);
[[nodiscard]] inline Status RestoreBlock(Level level, BlockWorkspace& ws, const std::uint8_t* block,
                                         std::size_t total, RestoredBlock& out) {
    return RestoreBlock(level, ws.codec, ws.restored(), block, total, out);
}

}  // namespace orsk
