// Level 1, SUPERFAST: one hash slot, one-step lazy look, three recent offsets.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/bytes.h"
#include "base/format.h"
#include "container/blocks/sections.h"
#include "container/blocks/workspace.h"

namespace orsk {

struct SuperfastSettings {
    std::uint8_t goodLength = 64;  // no lazy look for matches at least this long
    std::uint16_t window = 64512;
};

// Compresses chunk[0..n) (1 <= n <= MaxChunkLength, InputSlack readable bytes behind
// it) into one compressed block at block.at. NoRoom when the block would not fit
// (the driver then stores the chunk).
[[nodiscard]] Status SuperfastCompressBlock(const SuperfastSettings& settings, EncoderScratch& scratch,
                                       const std::uint8_t* chunk, std::size_t n, ByteSink& block);

// The same format from the optimal parse of an effort (1..MaxEffort): fewer bytes, the
// same decoder. scratch.parse must be allocated.
[[nodiscard]] Status SuperfastCompressEffort(EncoderScratch& scratch, unsigned effort, const std::uint8_t* chunk,
                                             std::size_t n, ByteSink& block);

// Replays the block's sequences into out (out.end is the chunk's end; CopySlack bytes
// past it may be scribbled on). Corrupt when the streams break any limit.
[[nodiscard]] Status SuperfastDecodeBlock(const BlockStreams& in, ByteSink& out);

}  // namespace orsk
