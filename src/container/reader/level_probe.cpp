// Tries a block at every level and compares what the levels that restore it give.
#include "container/reader/level_probe.h"

#include <bit>
#include <cstring>
#include <memory>
#include <new>

#include "container/format/block.h"

namespace orsk {

Status ProbeLevels(CodecScratch& scratch, std::uint8_t* restored, const std::uint8_t* bytes, std::size_t available,
                   LevelProbe& probe) {
    probe = LevelProbe{};
    if (available == 0) return Status::Ok;
    const std::size_t header = BlockHeaderLength(bytes[0]);
    if (header == 0 || header > available) return Status::Ok;
    if (Status s = scratch.PrepareDecompress(); s != Status::Ok) return s;
    // The first level that restores the block leaves its bytes in `restored`; a later
    // one restores into `other` and is compared with them.
    std::unique_ptr<std::uint8_t[]> other;
    std::size_t firstLength = 0;
    for (int k = 0; k < LevelCount; ++k) {
        const Level level = Level(k);
        std::size_t total = 0;
        if (BlockTotalLength(level, bytes, total) != Status::Ok || total > available) continue;
        if (probe.levels != 0 && !other) {
            other.reset(new (std::nothrow) std::uint8_t[OutputBlockBufferSize]);
            if (!other) return Status::OutOfMemory;
        }
        RestoredBlock out;
        if (RestoreBlock(level, scratch, probe.levels == 0 ? restored : other.get(), bytes, total, out) != Status::Ok) {
            continue;
        }
        if (probe.levels == 0) {
            firstLength = out.length;
        } else if (out.length != firstLength || std::memcmp(out.data, restored, firstLength) != 0) {
            probe.alike = false;
        }
        probe.levels |= 1u << k;
    }
    return Status::Ok;
}

LevelRequest DetectedLevel(const LevelProbe& probe) {
    if (probe.levels == 0 || !probe.alike) return LevelFromContainer;
    return Level(std::countr_zero(probe.levels));
}

std::string LevelList(unsigned levels, const char* prefix, const char* last) {
    std::string names;
    int count = 0;
    for (int k = LevelCount - 1; k >= 0; --k) {  // from the end, to join the last two with `last`
        if ((levels & (1u << k)) == 0) continue;
        names = prefix + std::string(1, char('0' + k)) + (count == 0 ? "" : count == 1 ? last : ", ") + names;
        ++count;
    }
    return names;
}

std::string LevelAdvice(unsigned levels) {
    return (std::popcount(levels) == 1 ? "level " : "levels ") + LevelList(levels, "", " and ") +
           ": try " + LevelList(levels, "-m", " or ");
}

}  // namespace orsk
