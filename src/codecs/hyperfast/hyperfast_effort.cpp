// Level 0 at the efforts: the optimal parse priced in raw bytes (every stream of the
// level is raw), written with the level's own sequence writers.
#include <cassert>

#include "codecs/common/optimal_parse.h"
#include "codecs/common/single_slot_path.h"
#include "codecs/hyperfast/hyperfast.h"

namespace orsk {
namespace {

// Bytes per sequence: a literal-length and a match-length code and a distance of two
// bytes; a run or match of 15 or more adds one extension byte, of 270 or more three.
struct HyperfastPrices {
    static constexpr int Slots = 0;
    static constexpr std::uint32_t RepeatGap = 0;
    std::uint32_t Literal(std::uint8_t) const { return PriceOfByte; }
    std::uint32_t RunGrowth(std::uint32_t run) const { return BiasedRunGrowthPrice(run); }
    std::uint32_t Match(std::uint32_t, std::uint32_t length, unsigned, std::uint32_t) const {
        return 4 * PriceOfByte + BiasedExtensionPrice(length);
    }
};

// Writes the path as the level's sequences, distances as a high byte and a low byte
// behind the header.
struct HyperfastWriter : SingleSlotPathWriter {
    std::uint8_t* high;
    std::uint8_t* low;
    std::uint8_t* lowEnd;
    bool full = false;  // the block had no room for another low byte

    void Sequence(std::uint32_t start, std::uint32_t run, std::uint32_t length, std::uint32_t distance) {
        RunAndLength(start, run, length);
        if (low == lowEnd) {
            full = true;
            return;
        }
        *high++ = std::uint8_t(distance >> 8);
        *low++ = std::uint8_t(distance);
    }
};

}  // namespace

Status HyperfastCompressEffort(EncoderScratch& scratch, unsigned effort, const std::uint8_t* chunk, std::size_t n,
                               ByteSink& block) {
    assert(n >= 1 && n <= MaxChunkLength);
    if (Room(block) < CompressedHeaderLength) return Status::NoRoom;
    const HyperfastSettings settings;
    OptimalParse<HyperfastPrices> parse(scratch, chunk, std::uint32_t(n), settings.window, EffortSettings(effort));
    // The prices are exact and fixed: one pass finds the cheapest path.
    parse.Run(HyperfastPrices{});
    HyperfastWriter out{{chunk, MakeSequenceWriter(scratch)}, scratch.stream[SequenceSection::OffsetCodes],
                        block.at + CompressedHeaderLength, block.end};
    parse.Walk(out);
    if (out.full) return Status::NoRoom;
    return FinishSingleSlotBlock(block, out.low, scratch, out.w, out.high, std::uint32_t(n), false);
}

}  // namespace orsk
