// Level 4, BETTER: recent offsets before the hash chain, long walks, coded literals.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/bytes.h"
#include "base/format.h"
#include "container/blocks/sections.h"
#include "container/blocks/workspace.h"

namespace orsk {

struct BetterSettings {
    std::uint16_t maxChainSteps = 128;
    std::uint16_t window = 64255;
    std::uint16_t goodLength = 1024;
};

// Compresses chunk[0..n) (1 <= n <= MaxChunkLength, InputSlack readable bytes behind
// it) into one compressed block at block.at. NoRoom when the block would not fit
// (the driver then stores the chunk).
[[nodiscard]] Status BetterCompressBlock(const BetterSettings& settings, EncoderScratch& scratch,
                                       const std::uint8_t* chunk, std::size_t n, ByteSink& block);

// Replays the block's sequences into out (out.end is the chunk's end; CopySlack bytes
// past it may be scribbled on). Corrupt when the streams break any limit.
[[nodiscard]] Status BetterDecodeBlock(const BlockStreams& in, ByteSink& out);

}  // namespace orsk
