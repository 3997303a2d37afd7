// Which levels a block restores at: a plain container does not record its level, so its
// first compressed block is tried at every level to tell it, or to advise one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "base/format.h"
#include "container/blocks/workspace.h"
#include "container/format/checked.h"

namespace orsk {

constexpr unsigned AllLevels = (1u << LevelCount) - 1;

struct LevelProbe {
    unsigned levels = 0;  // bit k: the block restores at level k
    bool alike = true;    // every one of them restores the same bytes
};

// Tries the block at the start of bytes[0..available) at every level, each framing it by
// its own header order (NORMAL reads the block length at another offset than the rest,
// so its blocks span other bytes). StreamReadSlack readable bytes must follow
// `available`; `restored` is scratch of OutputBlockBufferSize. OutOfMemory when the
// buffer that compares two levels' bytes cannot be had.
[[nodiscard]] Status ProbeLevels(CodecScratch& scratch, std::uint8_t* restored, const std::uint8_t* bytes,
                                 std::size_t available, LevelProbe& probe);

// The level a plain container restores at, told by the probe of its first compressed
// block: the lowest that restores it when all that do restore alike; none otherwise.
LevelRequest DetectedLevel(const LevelProbe& probe);

// The levels of a set, each behind `prefix`, the last two joined by `last`: "0, 1 and 4"
// (prefix "", last " and "), "-m2 or -m4".
std::string LevelList(unsigned levels, const char* prefix, const char* last);
// "level 3: try -m3", "levels 2 and 4: try -m2 or -m4" for a non-empty set of levels.
std::string LevelAdvice(unsigned levels);

}  // namespace orsk
