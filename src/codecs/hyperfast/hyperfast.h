// Level 0, HYPERFAST: greedy parse with one hash slot per position, all streams raw.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/bytes.h"
#include "base/format.h"
#include "container/blocks/sections.h"
#include "container/blocks/workspace.h"

namespace orsk {

struct HyperfastSettings {
    std::uint16_t window = 65535;  // candidates lie strictly after pos - window
};

// Compresses chunk[0..n) (1 <= n <= MaxChunkLength, InputSlack readable bytes behind
// it) into one compressed block at block.at. NoRoom when the block would not fit
// (the driver then stores the chunk).
[[nodiscard]] Status HyperfastCompressBlock(const HyperfastSettings& settings, EncoderScratch& scratch,
                                       const std::uint8_t* chunk, std::size_t n, ByteSink& block);

// The same format from the optimal parse of an effort (1..MaxEffort): fewer bytes, the
// same decoder. scratch.parse must be allocated.
[[nodiscard]] Status HyperfastCompressEffort(EncoderScratch& scratch, unsigned effort, const std::uint8_t* chunk,
                                             std::size_t n, ByteSink& block);

// Replays the block's sequences into out (out.end is the chunk's end; CopySlack bytes
// past it may be scribbled on). Corrupt when the streams break any limit.
[[nodiscard]] Status HyperfastDecodeBlock(const BlockStreams& in, ByteSink& out);

}  // namespace orsk
