// Level 3, NORMAL: x86 call filter, hash chains, five recent offsets, Order B header.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/bytes.h"
#include "base/format.h"
#include "container/blocks/sections.h"
#include "container/blocks/workspace.h"

namespace orsk {

struct NormalSettings {
    std::uint8_t maxChainSteps = 64;
    std::uint16_t goodLength = 512;
    static constexpr std::uint32_t window = 64255;  // a constant of the level
};

// Compresses chunk[0..n) (1 <= n <= MaxChunkLength, InputSlack readable bytes behind
// it) into one compressed block at block.at. NoRoom when the block would not fit
// (the driver then stores the chunk).
[[nodiscard]] Status NormalCompressBlock(const NormalSettings& settings, EncoderScratch& scratch,
                                       const std::uint8_t* chunk, std::size_t n, ByteSink& block);

// Replays the block's sequences into out (out.end is the chunk's end; CopySlack bytes
// past it may be scribbled on). Corrupt when the streams break any limit.
[[nodiscard]] Status NormalDecodeBlock(const BlockStreams& in, ByteSink& out);

}  // namespace orsk

namespace orsk {

// Rewrites the operands of E8/E9 after the first "PE\0\0" signature in place, and back.
void ApplyCallAddressFilter(std::uint8_t* bytes, std::size_t n);
void RevertCallAddressFilter(std::uint8_t* bytes, std::size_t n);

}  // namespace orsk
