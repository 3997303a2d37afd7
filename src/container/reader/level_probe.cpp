// Tries a block at several levels and compares what the levels that restore it give.
#include "container/reader/level_probe.h"

#include <bit>
#include <cstring>

namespace orsk {

Level LowestLevel(LevelSet levels) { return Level(std::countr_zero(levels)); }

Status ProbeLevels(CodecScratch& scratch, std::uint8_t* restored, const std::uint8_t* bytes, std::size_t available,
                   LevelSet tried, LevelProbe& probe) {
    probe = LevelProbe{};
    if (available == 0) return Status::Ok;
    const std::size_t header = BlockHeaderLength(bytes[0]);
    if (header == 0 || header > available) {
        probe.failure = header == 0 ? Status::Corrupt : Status::Truncated;
        return Status::Ok;
    }
    if (Status s = scratch.PrepareDecompress(); s != Status::Ok) return s;
    bool failed = false;
    for (int k = 0; k < LevelCount; ++k) {
        if ((tried & (1u << k)) == 0) continue;
        const Level level = Level(k);
        std::size_t total = 0;
        Status s = BlockTotalLength(level, bytes, total);
        if (s == Status::Ok && total > available) s = Status::Truncated;
        // The lowest level that restores the block leaves its bytes in `restored`; a
        // later one restores into the spare buffer and is compared with them.
        std::uint8_t* into = restored;
        if (s == Status::Ok && probe.levels != 0 && (into = scratch.Spare()) == nullptr) return Status::OutOfMemory;
        RestoredBlock out;
        if (s == Status::Ok) s = RestoreBlock(level, scratch, into, bytes, total, out);
        if (s != Status::Ok) {
            if (!failed) probe.failure = s;
            failed = true;
            continue;
        }
        if (probe.levels == 0) {
            probe.first = out;
            probe.total = total;
        } else if (total != probe.total || out.length != probe.first.length ||
                   std::memcmp(out.data, probe.first.data, out.length) != 0) {
            probe.alike = false;
        }
        probe.levels |= 1u << k;
    }
    return Status::Ok;
}

std::string LevelList(LevelSet levels, const char* prefix, const char* last) {
    std::string names;
    int count = 0;
    for (int k = LevelCount - 1; k >= 0; --k) {  // from the end, to join the last two with `last`
        if ((levels & (1u << k)) == 0) continue;
        names = prefix + std::string(1, char('0' + k)) + (count == 0 ? "" : count == 1 ? last : ", ") + names;
        ++count;
    }
    return names;
}

std::string LevelAdvice(LevelSet levels, const char* verb) {
    return (std::popcount(levels) == 1 ? "level " : "levels ") + LevelList(levels, "", " and ") + ": " + verb + " " +
           LevelList(levels, "-m", " or ");
}

}  // namespace orsk
