// Level 5 at the efforts: the optimal parse priced by the code lengths the block's
// streams get, counted first on the level's own parse and then on each parse before,
// written with the level's own token streams.
#include <algorithm>
#include <cassert>
#include <cmath>

#include "codecs/best/best.h"
#include "codecs/best/best_streams.h"
#include "codecs/common/hash_chain.h"
#include "codecs/common/optimal_parse.h"
#include "codecs/common/recent_parse.h"

namespace orsk {
namespace {

// ExtraLength: one byte below 255, else the escape and 16 bits.
constexpr std::uint32_t LengthEscape = 255;
constexpr std::uint32_t EscapedPrice = 16 * PriceOfBit;

// What the restore spends beyond reading the bits, priced as bits so that a parse gives
// up a few of them for a faster restore. Without these the effort containers came out
// 3-4% smaller on executables but restored 2-5% slower than the level's own parse: more
// sequences, and more recent distances among the new ones (the decoder's branch between
// the two mispredicts on them). With them (and a bit per literal, which leads the parse
// to matches it undervalued) they restore as fast and stay 1.4-3.8% smaller. Shallower
// searches find shorter matches: their sequences are priced higher.
constexpr std::uint8_t SequenceBits[MaxEffort] = {8, 8, 8, 8, 7, 5, 5, 5, 4};
constexpr std::uint32_t RecentCost = 3 * PriceOfBit;
constexpr std::uint32_t LiteralCost = 1 * PriceOfBit;

struct BestPrices {
    static constexpr int Slots = BestRecentSlots;
    static constexpr std::uint32_t RepeatGap = 8;
    std::uint32_t literal[256];
    std::uint32_t token[LiteralOnlyToken + 1];
    std::uint32_t literalLength[LengthEscape + 1];
    std::uint32_t matchLength[LengthEscape + 1];
    std::uint32_t offsetHigh[256];
    std::uint32_t sequenceCost;

    std::uint32_t Literal(std::uint8_t byte) const { return literal[byte] + LiteralCost; }
    std::uint32_t RunGrowth(std::uint32_t run) const { return run == LengthEscape ? EscapedPrice : 0; }
    std::uint32_t Match(std::uint32_t run, std::uint32_t length, unsigned slot, std::uint32_t distance) const {
        std::uint32_t p = run != 0 ? token[slot] + literalLength[std::min(run, LengthEscape)]
                                   : token[MatchOnlyTokenBase + slot];
        p += matchLength[std::min(length, LengthEscape)] + (length >= LengthEscape ? EscapedPrice : 0);
        p += slot == NewDistanceClass ? PriceOfByte + offsetHigh[distance >> 8] : RecentCost;
        return p + sequenceCost;
    }
};

// Counts what a parse puts in each stream, through the emitter calls the level's own
// parse makes.
struct BestTally {
    const std::uint8_t* chunk;
    RecentOffsets<BestRecentSlots> rep;
    std::uint32_t literal[256] = {};
    std::uint32_t token[LiteralOnlyToken + 1] = {};
    std::uint32_t literalLength[LengthEscape + 1] = {};
    std::uint32_t matchLength[LengthEscape + 1] = {};
    std::uint32_t offsetHigh[256] = {};
    std::uint32_t literals = 0, tokens = 0, runs = 0, matches = 0, newDistances = 0;

    void CountRun(std::uint32_t start, std::uint32_t count) {
        for (std::uint32_t k = 0; k < count; ++k) ++literal[chunk[start + k]];
        literals += count;
        ++literalLength[std::min(count, LengthEscape)];
        ++runs;
    }
    void EmitLiterals(std::uint32_t start, std::uint32_t count) {
        ++token[LiteralOnlyToken];
        ++tokens;
        CountRun(start, count);
    }
    void EmitMatch(std::uint32_t start, std::uint32_t count, orsk::Match m) {
        const unsigned j = rep.Use(m.distance);
        if (j == NewDistanceClass) {
            ++offsetHigh[m.distance >> 8];
            ++newDistances;
        }
        ++token[count != 0 ? j : MatchOnlyTokenBase + j];
        ++tokens;
        if (count != 0) CountRun(start, count);
        ++matchLength[std::min(m.length, LengthEscape)];
        ++matches;
    }

    // Adds another parse's counts.
    void Add(const BestTally& t) {
        auto add = [](std::uint32_t* to, const std::uint32_t* from, int count) {
            for (int k = 0; k < count; ++k) to[k] += from[k];
        };
        add(literal, t.literal, 256);
        add(token, t.token, LiteralOnlyToken + 1);
        add(literalLength, t.literalLength, LengthEscape + 1);
        add(matchLength, t.matchLength, LengthEscape + 1);
        add(offsetHigh, t.offsetHigh, 256);
        literals += t.literals;
        tokens += t.tokens;
        runs += t.runs;
        matches += t.matches;
        newDistances += t.newDistances;
    }

    // About how many bits the block's streams take (escaped lengths aside): each coded
    // stream at its order-0 entropy, raw ones at 8 bits a byte.
    double EstimatedBits() const {
        auto bits = [](const std::uint32_t* count, int symbols, std::uint32_t total) {
            if (total < MinCodedLength) return 8.0 * total;
            double sum = 0.0;
            for (int k = 0; k < symbols; ++k) {
                if (count[k] != 0) sum += count[k] * std::log2(double(total) / count[k]);
            }
            return sum;
        };
        const double literalBits = bits(literal, 256, literals);
        return std::min(literalBits, 8.0 * literals) + bits(token, LiteralOnlyToken + 1, tokens) +
               bits(literalLength, LengthEscape + 1, runs) + bits(matchLength, LengthEscape + 1, matches) +
               bits(offsetHigh, 256, newDistances) + 8.0 * newDistances;
    }

    // Streams shorter than MinCodedLength stay raw, as do literals the block will not
    // code (their order-0 entropy above the level's limit).
    BestPrices Prices(unsigned effort) const {
        BestPrices p;
        p.sequenceCost = SequenceBits[effort - 1] * PriceOfBit;
        auto fill = [](std::uint32_t* price, const std::uint32_t* count, std::uint32_t symbols, std::uint32_t total,
                       bool coded) {
            for (std::uint32_t s = 0; s < symbols; ++s) {
                price[s] = coded ? PriceFromCount(count[s], total) : PriceOfByte;
            }
        };
        double entropy = 0.0;
        for (std::uint32_t c : literal) {
            if (c != 0) entropy -= double(c) / literals * std::log2(double(c) / literals);
        }
        fill(p.literal, literal, 256, literals, literals >= MinCodedLength && entropy <= BestLiteralEntropyLimit);
        fill(p.token, token, LiteralOnlyToken + 1, tokens, tokens >= MinCodedLength);
        fill(p.literalLength, literalLength, LengthEscape + 1, runs, runs >= MinCodedLength);
        fill(p.matchLength, matchLength, LengthEscape + 1, matches, matches >= MinCodedLength);
        fill(p.offsetHigh, offsetHigh, 256, newDistances, newDistances >= MinCodedLength);
        return p;
    }
};

// Hands a path to an emitter of the level (its streams or a tally), cutting runs to
// the 65,535 bytes a stored length holds into literal-only sequences before them.
template <class Emitter>
struct BestPath {
    Emitter& emit;

    void CutLongRun(std::uint32_t& start, std::uint32_t& run) {
        for (; run > MaxLiteralRun; run -= MaxLiteralRun, start += MaxLiteralRun) {
            emit.EmitLiterals(start, MaxLiteralRun);
        }
    }
    void Sequence(std::uint32_t start, std::uint32_t run, std::uint32_t length, std::uint32_t distance) {
        CutLongRun(start, run);
        emit.EmitMatch(start, run, orsk::Match{length, distance});
    }
    void Tail(std::uint32_t start, std::uint32_t run) {
        CutLongRun(start, run);
        if (run != 0) emit.EmitLiterals(start, run);
    }
};

// Counts the level's own parse of the chunk, which prices the first optimal parse.
BestTally TallyOfOwnParse(EncoderScratch& scratch, const std::uint8_t* chunk, std::uint32_t n) {
    const BestSettings settings;
    auto finder = MakeChainFinder<4>(scratch, chunk, n, settings.window, settings.maxChainSteps);
    BestTally tally{chunk, {}};
    BestPath<BestTally> path{tally};
    const std::uint32_t pending = ParseRecentFirst(finder, settings.goodLength, tally.rep, tally);
    path.Tail(n - pending, pending);
    return tally;
}

}  // namespace

Status BestCompressEffort(EncoderScratch& scratch, unsigned effort, const std::uint8_t* chunk, std::size_t n,
                          ByteSink& block) {
    if (n == 0 || n > MaxChunkLength) return Status::Corrupt;
    const std::uint32_t size = std::uint32_t(n);
    const BestSettings settings;
    // Fewer than 16 candidates, or long matches taken from 24 bytes on, find fewer of
    // the matches the level's own parse takes than its prices gain.
    const ParseEffort e = EffortSettings(effort, {16, 64, 1});
    const BestTally own = TallyOfOwnParse(scratch, chunk, size);
    BestPrices prices = own.Prices(effort);
    OptimalParse<BestPrices> parse(scratch, chunk, size, settings.window, e);
    // Each pass is priced by the one before; a pass whose streams come out larger than
    // its predecessor's (a parse can drift towards what it priced cheap) is undone.
    BestPrices kept = prices;
    double keptBits = 1e300;
    for (int pass = 0; pass < e.passes; ++pass) {
        parse.Run(prices);
        if (e.passes == 1) break;
        // The counts of the own parse stay in: a parse priced by its own counts alone
        // finds the symbols it never used dear (a new distance, say, that would set up
        // many recent matches) and drifts away from them.
        BestTally tally{chunk, {}};
        BestPath<BestTally> path{tally};
        parse.Walk(path);
        const double bits = tally.EstimatedBits();
        if (bits >= keptBits) {
            parse.Run(kept);
            break;
        }
        kept = prices;
        keptBits = bits;
        tally.Add(own);
        prices = tally.Prices(effort);
    }
    BestStreams s = MakeBestStreams(scratch, chunk);
    BestPath<BestStreams> path{s};
    parse.Walk(path);
    return FinishBestBlock(block, s, scratch, size);
}

}  // namespace orsk
