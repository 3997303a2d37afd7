// Which levels a block restores at: a container does not record its level, so when its
// first compressed block fails at the level given, the others are tried on it alone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "base/format.h"
#include "container/blocks/workspace.h"

namespace orsk {

// The levels other than `given` at which the block at the start of bytes[0..available)
// (framed by each level's own header order) restores: bit k for level k. StreamReadSlack
// readable bytes must follow `available`; `restored` is scratch of OutputBlockBufferSize.
unsigned LevelsThatRestore(Level given, CodecScratch& scratch, std::uint8_t* restored, const std::uint8_t* bytes,
                           std::size_t available);

// "level 3: try -m3", "levels 2 and 4: try -m2 or -m4" for a non-empty set of levels.
std::string LevelAdvice(unsigned levels);

}  // namespace orsk
