// Tries a block at every other level, each framing it by its own header order: NORMAL
// reads the block length at another offset than the rest, so its blocks span other bytes.
#include "container/drivers/level_probe.h"

#include "container/drivers/block.h"

namespace orsk {

unsigned LevelsThatRestore(Level given, CodecScratch& scratch, std::uint8_t* restored, const std::uint8_t* bytes,
                           std::size_t available) {
    unsigned levels = 0;
    for (int k = 0; k < LevelCount; ++k) {
        const Level level = Level(k);
        if (level == given || available == 0) continue;
        const std::size_t header = BlockHeaderLength(bytes[0]);
        std::size_t total = 0;
        if (header == 0 || header > available || BlockTotalLength(level, bytes, total) != Status::Ok ||
            total > available) {
            continue;
        }
        RestoredBlock out;
        if (RestoreBlock(level, scratch, restored, bytes, total, out) == Status::Ok) levels |= 1u << k;
    }
    return levels;
}

std::string LevelAdvice(unsigned levels) {
    std::string names, options;
    int count = 0;
    for (int k = LevelCount - 1; k >= 0; --k) {  // from the end, to join the last two with "and"
        if ((levels & (1u << k)) == 0) continue;
        const std::string digit(1, char('0' + k));
        names = digit + (count == 0 ? "" : count == 1 ? " and " : ", ") + names;
        options = "-m" + digit + (count == 0 ? "" : " or ") + options;
        ++count;
    }
    return (count == 1 ? "level " : "levels ") + names + ": try " + options;
}

}  // namespace orsk
