// Level 2, FAST: hash-chain search, lazy look, four recent offsets.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/bytes.h"
#include "base/format.h"
#include "container/blocks/sections.h"
#include "container/blocks/workspace.h"

namespace orsk {

struct FastSettings {
    std::uint8_t maxChainSteps = 4;
    std::uint8_t goodLength = 255;
    std::uint16_t window = 64256;
};

// Compresses chunk[0..n) (1 <= n <= MaxChunkLength, InputSlack readable bytes behind
// it) into one compressed block at block.at. NoRoom when the block would not fit
// (the driver then stores the chunk).
[[nodiscard]] Status FastCompressBlock(const FastSettings& settings, EncoderScratch& scratch,
                                       const std::uint8_t* chunk, std::size_t n, ByteSink& block);

// Replays the block's sequences into out (out.end is the chunk's end; CopySlack bytes
// past it may be scribbled on). Corrupt when the streams break any limit.
[[nodiscard]] Status FastDecodeBlock(const BlockStreams& in, ByteSink& out);

}  // namespace orsk
