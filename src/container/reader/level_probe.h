// Which levels a block restores at: a plain container does not record its level, so its
// blocks are tried at every level still possible to tell it, or to advise one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "base/format.h"
#include "container/blocks/workspace.h"
#include "container/format/block.h"

namespace orsk {

// A set of levels: bit k for level k.
using LevelSet = unsigned;
constexpr LevelSet AllLevels = (1u << LevelCount) - 1;
constexpr LevelSet LevelBit(Level level) { return 1u << unsigned(level); }
// Stored blocks frame and restore alike at every level: this one stands for any.
constexpr Level AnyLevel = Level::Hyperfast;
Level LowestLevel(LevelSet levels);  // levels != 0

struct LevelProbe {
    LevelSet levels = 0;  // the levels tried that restore the block
    bool alike = true;    // all of them frame it alike and restore the same bytes
    std::size_t total = 0;  // the block's length as the lowest of them frames it
    RestoredBlock first;    // what the lowest of them restored
    Status failure = Status::Corrupt;  // why the lowest level tried fails, when none restores it
};

// Tries the block at the start of bytes[0..available) at each level of `tried`, each
// framing it by its own header order (NORMAL reads the block length at another offset
// than the rest, so its blocks span other bytes). StreamReadSlack readable bytes must
// follow `available`; `restored` receives the lowest level's bytes (OutputBlockBufferSize).
// OutOfMemory when the buffer that compares two levels' bytes cannot be had.
[[nodiscard]] Status ProbeLevels(CodecScratch& scratch, std::uint8_t* restored, const std::uint8_t* bytes,
                                 std::size_t available, LevelSet tried, LevelProbe& probe);

// The levels of a set, each behind `prefix`, the last two joined by `last`: "0, 1 and 4"
// (prefix "", last " and "), "-m2 or -m4".
std::string LevelList(LevelSet levels, const char* prefix, const char* last);
// "level 3: try -m3", "levels 2 and 4: give -m2 or -m4" for a non-empty set of levels.
std::string LevelAdvice(LevelSet levels, const char* verb = "try");

}  // namespace orsk
