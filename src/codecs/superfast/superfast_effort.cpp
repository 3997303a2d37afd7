// Level 1 at the efforts: the optimal parse priced by the level's streams (raw literals,
// extensions and offset codes; length codes priced by the counts of the parse before),
// written with the level's own sequence writers and recent offsets.
#include <algorithm>
#include <cassert>

#include "codecs/common/optimal_parse.h"
#include "codecs/common/recent_offsets.h"
#include "codecs/common/single_slot_path.h"
#include "codecs/superfast/superfast.h"

namespace orsk {
namespace {

constexpr int SuperfastRecentSlots = 3;
constexpr unsigned NewDistanceCode = RecentOffsets<SuperfastRecentSlots>::NewDistance;

// A sequence: its two length codes (entropy-coded once the block has MinCodedLength
// sequences), extensions, an offset code and, for a new distance, its low byte.
struct SuperfastPrices {
    static constexpr int Slots = SuperfastRecentSlots;
    static constexpr std::uint32_t RepeatGap = 0;
    std::uint32_t literalCode[LengthEscapeCode + 1];
    std::uint32_t matchCode[LengthEscapeCode + 1];

    std::uint32_t Literal(std::uint8_t) const { return PriceOfByte; }
    std::uint32_t RunGrowth(std::uint32_t run) const { return BiasedRunGrowthPrice(run); }
    std::uint32_t Match(std::uint32_t run, std::uint32_t length, unsigned slot, std::uint32_t) const {
        return literalCode[std::min(run, LengthEscapeCode)] + matchCode[std::min(length, LengthEscapeCode)] +
               BiasedExtensionPrice(length) + (slot == NewDistanceCode ? 2 : 1) * PriceOfByte;
    }
};

// Counts the length codes of a path, as the writer will cut its runs.
struct SuperfastTally {
    std::uint32_t literalCode[LengthEscapeCode + 1] = {};
    std::uint32_t matchCode[LengthEscapeCode + 1] = {};
    std::uint32_t sequences = 0;

    void Put(std::uint32_t run, std::uint32_t length) {
        for (; run > MaxLiteralRun; run -= MaxLiteralRun) Put(MaxLiteralRun, 0);
        ++literalCode[std::min(run, LengthEscapeCode)];
        ++matchCode[std::min(length, LengthEscapeCode)];
        ++sequences;
    }
    void Sequence(std::uint32_t, std::uint32_t run, std::uint32_t length, std::uint32_t) { Put(run, length); }
    void Tail(std::uint32_t, std::uint32_t run) {
        if (run != 0) Put(run, 0);
    }
    // Raw code streams (too few sequences to be coded) cost a byte a code.
    SuperfastPrices Prices() const {
        SuperfastPrices p;
        const bool coded = sequences >= MinCodedLength;
        for (std::uint32_t c = 0; c <= LengthEscapeCode; ++c) {
            p.literalCode[c] = coded ? PriceFromCount(literalCode[c], sequences) : PriceOfByte;
            p.matchCode[c] = coded ? PriceFromCount(matchCode[c], sequences) : PriceOfByte;
        }
        return p;
    }
};

// Writes the path as the level's sequences, distances as recent-offset codes or new ones.
struct SuperfastWriter : SingleSlotPathWriter {
    std::uint8_t* codes;
    std::uint8_t* low;
    std::uint8_t* lowEnd;
    RecentOffsets<SuperfastRecentSlots> rep;
    bool full = false;  // the block had no room for another low byte

    void Sequence(std::uint32_t start, std::uint32_t run, std::uint32_t length, std::uint32_t distance) {
        RunAndLength(start, run, length);
        if (const unsigned k = rep.Use(distance); k != NewDistanceCode) {
            *codes++ = std::uint8_t(k);
        } else if (low == lowEnd) {
            full = true;
        } else {
            *codes++ = std::uint8_t(NewDistanceCode + (distance >> 8));
            *low++ = std::uint8_t(distance);
        }
    }
};

}  // namespace

Status SuperfastCompressEffort(EncoderScratch& scratch, unsigned effort, const std::uint8_t* chunk, std::size_t n,
                               ByteSink& block) {
    assert(n >= 1 && n <= MaxChunkLength);
    if (Room(block) < CompressedHeaderLength) return Status::NoRoom;
    const SuperfastSettings settings;
    const ParseEffort e = EffortSettings(effort);
    OptimalParse<SuperfastPrices> parse(scratch, chunk, std::uint32_t(n), settings.window, e);
    // The first parse prices every code as a raw byte; each later one by the counts of
    // the one before.
    SuperfastTally flat;
    SuperfastPrices prices = flat.Prices();
    for (int pass = 0; pass < e.passes; ++pass) {
        parse.Run(prices);
        if (pass + 1 == e.passes) break;
        SuperfastTally tally;
        parse.Walk(tally);
        prices = tally.Prices();
    }
    SuperfastWriter out{{chunk, MakeSequenceWriter(scratch)}, scratch.stream[SequenceSection::OffsetCodes],
                        block.at + CompressedHeaderLength, block.end, {}};
    parse.Walk(out);
    if (out.full) return Status::NoRoom;
    return FinishSingleSlotBlock(block, out.low, scratch, out.w, out.codes, std::uint32_t(n), true);
}

}  // namespace orsk
