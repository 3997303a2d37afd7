// Level 5, BEST: BETTER's search with six recent offsets and its own token stream.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/bytes.h"
#include "base/format.h"
#include "container/blocks/sections.h"
#include "container/blocks/workspace.h"

namespace orsk {

// The stream sections of a level 5 block, in the order the block holds them: also the
// index into BlockStreams::stream.
struct BestSection {
    enum : int {
        Tokens = 0,  // one per sequence: its shape and offset class
        Reserved1,   // always empty
        Reserved2,   // always empty
        LiteralLengths,
        MatchLengths,
        OffsetHigh,  // each new distance >> 8
        Literals,
        Count,
    };
};
static_assert(BestSection::Count <= MaxSections);

struct BestSettings {
    std::uint16_t maxChainSteps = 512;
    std::uint16_t window = 65535;
    std::uint16_t goodLength = 2048;
};

// Compresses chunk[0..n) (1 <= n <= MaxChunkLength, InputSlack readable bytes behind
// it) into one compressed block at block.at. NoRoom when the block would not fit
// (the driver then stores the chunk).
[[nodiscard]] Status BestCompressBlock(const BestSettings& settings, EncoderScratch& scratch,
                                       const std::uint8_t* chunk, std::size_t n, ByteSink& block);

// The same format from the optimal parse of an effort (1..MaxEffort): fewer bytes, the
// same decoder. scratch.parse must be allocated.
[[nodiscard]] Status BestCompressEffort(EncoderScratch& scratch, unsigned effort, const std::uint8_t* chunk,
                                        std::size_t n, ByteSink& block);

// Replays the block's sequences into out (out.end is the chunk's end; CopySlack bytes
// past it may be scribbled on). Corrupt when the streams break any limit.
[[nodiscard]] Status BestDecodeBlock(const BlockStreams& in, ByteSink& out);

}  // namespace orsk
