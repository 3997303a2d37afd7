// The parse of the efforts: a hash chain over the whole block finds, at every position,
// the nearest match of each length it reaches, and a shortest-path pass over the
// positions picks the literals and matches whose price (the level's own, in 1/16 bit)
// sums least. A level supplies the prices and writes the path in its own format.
#pragma once

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "base/bytes.h"
#include "base/format.h"
#include "codecs/common/match_length.h"
#include "codecs/common/position_hash.h"
#include "codecs/common/unsearched_tail.h"
#include "container/blocks/workspace.h"

namespace orsk {

// Prices count 1/16 of a bit, so that code lengths from counts keep a fraction.
constexpr std::uint32_t PriceOfBit = 16;
constexpr std::uint32_t PriceOfByte = 8 * PriceOfBit;

// How hard one effort searches.
struct ParseEffort {
    std::uint32_t chainSteps;  // candidates examined per position, newest first
    std::uint32_t niceLength;  // a match this long is taken at once; the positions it covers are not searched
    int passes;                // parses run; each after the first is priced by the one before
};

// Efforts 1 to MaxEffort: deeper chains and longer matches before the search gives up;
// from 6 on a second parse priced by the first. A level whose own parse searches deep
// asks for at least `least` candidates and nice length, so that no effort parses worse.
inline ParseEffort EffortSettings(unsigned effort, ParseEffort least = {0, 0, 1}) {
    static constexpr ParseEffort Table[MaxEffort] = {
        {2, 24, 1},   {4, 32, 1},    {8, 48, 1},    {16, 64, 1},   {32, 96, 1},
        {64, 256, 2}, {128, 512, 2}, {256, 512, 2}, {512, 1024, 2},
    };
    assert(effort >= 1 && effort <= MaxEffort);
    ParseEffort e = Table[effort - 1];
    e.chainSteps = std::max(e.chainSteps, least.chainSteps);
    e.niceLength = std::max(e.niceLength, least.niceLength);
    return e;
}

// The price of a symbol seen `count` times among `total`: its ideal code length, kept
// within the 1 to 12 bits of a code (an unseen symbol costs the longest).
inline std::uint32_t PriceFromCount(std::uint32_t count, std::uint32_t total) {
    if (count == 0 || total == 0) return 12 * PriceOfBit;
    const double bits = std::log2(double(total) / double(count));
    return std::uint32_t(std::clamp(bits, 1.0, 12.0) * PriceOfBit + 0.5);
}

// The recent distances a parse node carries (16 bits each: no distance reaches 65,536),
// moved as the level's RecentOffsets moves them: the slot that holds d, or Slots.
template <int Slots>
inline unsigned FindRecent(const std::uint16_t* reps, std::uint32_t d) {
    for (int k = 0; k < Slots; ++k) {
        if (reps[k] == d) return unsigned(k);
    }
    return unsigned(Slots);
}
template <int Slots>
inline void UseRecent(std::uint16_t* reps, std::uint32_t d) {
    const unsigned k = FindRecent<Slots>(reps, d);
    if (k < unsigned(Slots)) {
        reps[k] = reps[0];
    } else {
        for (int j = Slots - 1; j > 0; --j) reps[j] = reps[j - 1];
    }
    if constexpr (Slots > 0) reps[0] = std::uint16_t(d);
}

// The parse over one block. Its arrays live in scratch.parse (ParseMemorySize bytes) and
// the chain heads in scratch.hashHead. A Model gives the prices:
//   static constexpr int Slots;                       recent distances of the format
//   static constexpr std::uint32_t RepeatGap;         the most literals between a match and its
//                                                     distance's reuse from slot 0 tried as one step
//                                                     (0: none; needs Slots >= 1, at most 255)
//   std::uint32_t Literal(std::uint8_t byte) const;   one literal byte
//   std::uint32_t RunGrowth(std::uint32_t run) const; a run growing to `run` bytes
//   std::uint32_t Match(std::uint32_t run, std::uint32_t length, unsigned slot, std::uint32_t distance) const;
//                                                     a sequence of `run` literals and the match (slot
//                                                     Slots: a new distance)
template <class Model>
class OptimalParse {
public:
    static constexpr int Slots = Model::Slots;
    static constexpr std::uint32_t RepeatGap = Model::RepeatGap;
    static_assert(RepeatGap == 0 || (Slots >= 1 && RepeatGap <= 255));
    static constexpr int MaxMatches = 48;  // nearest matches kept per position, of rising length
    static constexpr std::uint32_t Unreached = 0xFFFFFFFFu;
    static_assert(ParseBytesPerPosition >= 4 + 4 + 4 + 2 + 2 + 2 + 2 * 6 + 1 && Slots <= 6);

    // chunk[0..n) with InputSlack readable bytes behind it; matches lie less than
    // `window` (at most 65,535) back.
    OptimalParse(EncoderScratch& scratch, const std::uint8_t* chunk, std::uint32_t n, std::uint32_t window,
                 const ParseEffort& effort)
        : chunk_(chunk), n_(n), window_(window), effort_(effort), head_(scratch.hashHead) {
        assert(scratch.parse != nullptr && n >= 1 && n <= MaxChunkLength && window <= 65535);
        constexpr std::size_t Nodes = MaxChunkLength + 1;
        std::uint8_t* at = scratch.parse;
        prev_ = reinterpret_cast<std::uint32_t*>(at);
        at += Nodes * 4;
        price_ = reinterpret_cast<std::uint32_t*>(at);
        at += Nodes * 4;
        run_ = reinterpret_cast<std::uint32_t*>(at);
        at += Nodes * 4;
        step_ = reinterpret_cast<std::uint16_t*>(at);
        at += Nodes * 2;
        distance_ = reinterpret_cast<std::uint16_t*>(at);
        at += Nodes * 2;
        lead_ = reinterpret_cast<std::uint16_t*>(at);
        at += Nodes * 2;
        reps_ = reinterpret_cast<std::uint16_t*>(at);
        at += Nodes * 2 * 6;
        gap_ = at;
    }

    // Finds the cheapest path through the block under `model`'s prices.
    void Run(const Model& model) {
        const std::uint32_t n = n_;
        const std::uint32_t searchEnd = SearchEnd(n);
        std::memset(head_, 0, HashTableEntries * sizeof(std::uint32_t));
        std::fill(price_, price_ + n + 1, Unreached);
        price_[0] = 0;
        run_[0] = 0;
        std::fill(reps_, reps_ + Slots, std::uint16_t(0));
        std::uint32_t searchFrom = 0;  // positions below it lie inside a match taken at once
        Match found[MaxMatches];
        for (std::uint32_t i = 0; i < n; ++i) {
            Settle(i);
            const std::uint32_t base = price_[i];
            const std::uint32_t run = run_[i];
            Relax(i + 1, base + model.Literal(chunk_[i]) + model.RunGrowth(run + 1), 0, 0);
            if (i >= searchEnd) continue;
            if (i < searchFrom) {
                Insert(i);
                continue;
            }
            const std::uint16_t* reps = reps_ + std::size_t(i) * Slots;
            const std::uint32_t limit = MatchLimit(n, i);
            std::uint32_t longest = 0;
            for (int k = 0; k < Slots; ++k) {
                const std::uint32_t d = reps[k];
                if (d == 0 || d > i || LoadLE32(chunk_ + i - d) != LoadLE32(chunk_ + i)) continue;
                const std::uint32_t length = ExtendMatch(chunk_ + i, chunk_ + i - d, MinMatchLength, limit);
                longest = std::max(longest, length);
                const std::uint32_t whole = RelaxMatches(model, i, base, run, MinMatchLength, length, unsigned(k), d);
                RelaxRepeat(model, i, whole, length, d, searchEnd);
            }
            const int count = Find(i, limit, found);
            Insert(i);
            std::uint32_t from = MinMatchLength;
            for (int m = 0; m < count; ++m) {
                const std::uint32_t d = found[m].distance;
                const std::uint32_t whole =
                    RelaxMatches(model, i, base, run, from, found[m].length, FindRecent<Slots>(reps, d), d);
                RelaxRepeat(model, i, whole, found[m].length, d, searchEnd);
                from = found[m].length + 1;
            }
            if (count != 0) longest = std::max(longest, found[count - 1].length);
            // A long match is taken as it is: the positions it covers are only indexed.
            if (longest >= effort_.niceLength) searchFrom = i + longest;
        }
        Settle(n);
        // Links every node of the cheapest path to the next one (in run_, no longer needed).
        for (std::uint32_t j = n; j != 0;) {
            const std::uint32_t i = From(j);
            run_[i] = j;
            j = i;
        }
    }

    // Calls v.Sequence(start, run, length, distance) for each match of the path, with the
    // run of literals before it from `start`, and v.Tail(start, run) for the literals
    // after the last match (run may be 0). Runs are not cut to any limit.
    template <class Visitor>
    void Walk(Visitor& v) const {
        std::uint32_t anchor = 0;
        for (std::uint32_t i = 0; i < n_;) {
            const std::uint32_t j = run_[i];
            if (lead_[j] != 0) {
                // A match, gap_ literals, and the match's distance again.
                v.Sequence(anchor, i - anchor, lead_[j], distance_[j]);
                v.Sequence(i + lead_[j], gap_[j], step_[j], distance_[j]);
                anchor = j;
            } else if (step_[j] != 0) {
                v.Sequence(anchor, i - anchor, step_[j], distance_[j]);
                anchor = j;
            }
            i = j;
        }
        v.Tail(anchor, n_ - anchor);
    }

private:
    struct Match {
        std::uint32_t length;
        std::uint32_t distance;
    };

    // The node the step into j leaves from.
    std::uint32_t From(std::uint32_t j) const {
        if (step_[j] == 0) return j - 1;
        return j - step_[j] - (lead_[j] != 0 ? lead_[j] + gap_[j] : 0u);
    }

    // Node i's predecessor is final: its run and recent distances follow from the step
    // that reaches it (a match, literals and the same distance again leave them as the
    // match alone does: the distance is in slot 0 when reused).
    void Settle(std::uint32_t i) {
        if (i == 0) return;
        const std::uint32_t step = step_[i];
        const std::uint32_t from = From(i);
        std::uint16_t* reps = reps_ + std::size_t(i) * Slots;
        std::copy(reps_ + std::size_t(from) * Slots, reps_ + std::size_t(from + 1) * Slots, reps);
        if (step == 0) {
            run_[i] = run_[from] + 1;
        } else {
            run_[i] = 0;
            UseRecent<Slots>(reps, distance_[i]);
        }
    }

    void Relax(std::uint32_t j, std::uint32_t price, std::uint32_t step, std::uint32_t distance,
               std::uint32_t lead = 0, std::uint32_t gap = 0) {
        if (price < price_[j]) {
            price_[j] = price;
            step_[j] = std::uint16_t(step);
            distance_[j] = std::uint16_t(distance);
            lead_[j] = std::uint16_t(lead);
            gap_[j] = std::uint8_t(gap);
        }
    }

    // After a match of `length` at distance d from i, reached at `price`: up to RepeatGap
    // literals, then d again from slot 0 at the first place it gives a match. One
    // cheapest path per node misses this whenever another path reaches the match's end
    // more cheaply with other recent distances; executables hold it everywhere (records
    // that differ in a byte or two).
    void RelaxRepeat(const Model& model, std::uint32_t i, std::uint32_t price, std::uint32_t length, std::uint32_t d,
                     std::uint32_t searchEnd) {
        if constexpr (RepeatGap != 0) {
            std::uint32_t p = i + length;
            for (std::uint32_t gap = 1; gap <= RepeatGap; ++gap) {
                price += model.Literal(chunk_[p]) + model.RunGrowth(gap);
                if (++p >= searchEnd) return;
                if (LoadLE32(chunk_ + p - d) != LoadLE32(chunk_ + p)) continue;
                const std::uint32_t again = ExtendMatch(chunk_ + p, chunk_ + p - d, MinMatchLength, MatchLimit(n_, p));
                Relax(p + again, price + model.Match(gap, again, 0, d), again, d, length, gap);
                return;
            }
        }
    }

    // Matches of every length from..to at distance d from position i; returns the price
    // of the path through the longest.
    std::uint32_t RelaxMatches(const Model& model, std::uint32_t i, std::uint32_t base, std::uint32_t run,
                               std::uint32_t from, std::uint32_t to, unsigned slot, std::uint32_t d) {
        // Too long to try each length: the whole match only.
        if (to >= effort_.niceLength) from = to;
        std::uint32_t price = 0;
        for (std::uint32_t length = from; length <= to; ++length) {
            price = base + model.Match(run, length, slot, d);
            Relax(i + length, price, length, d);
        }
        return price;
    }

    void Insert(std::uint32_t p) {
        const std::uint32_t h = HashPosition(chunk_ + p);
        prev_[p] = head_[h];
        head_[h] = p + 1;
    }

    // The nearest match of each length that beats the ones nearer, up to `limit`, among
    // chainSteps candidates; stops at a match of niceLength. Entries hold position + 1.
    int Find(std::uint32_t p, std::uint32_t limit, Match* out) const {
        const std::uint8_t* const here = chunk_ + p;
        const std::uint32_t here4 = LoadLE32(here);
        std::uint32_t best = MinMatchLength - 1;
        int count = 0;
        std::uint32_t entry = head_[HashPosition(here)];
        for (std::uint32_t steps = effort_.chainSteps; entry != 0 && steps != 0; --steps) {
            const std::uint32_t c = entry - 1;
            if (p - c >= window_) break;
            const std::uint8_t* const there = chunk_ + c;
            // here + best <= the chunk's end (best < limit): the byte is in the chunk.
            if (there[best] == here[best] && LoadLE32(there) == here4) {
                const std::uint32_t length = ExtendMatch(here, there, MinMatchLength, limit);
                if (length > best) {
                    best = length;
                    if (count == MaxMatches) --count;
                    out[count++] = {length, p - c};
                    if (length >= limit || length >= effort_.niceLength) break;
                }
            }
            entry = prev_[c];
        }
        return count;
    }

    const std::uint8_t* chunk_;
    std::uint32_t n_;
    std::uint32_t window_;
    ParseEffort effort_;
    std::uint32_t* head_;      // per hash: the newest position + 1, 0 for none
    std::uint32_t* prev_;      // per position: the previous one of its hash + 1
    std::uint32_t* price_;     // per node: the cheapest price found to reach it
    std::uint32_t* run_;       // per node: literals since the last match; after Run, the next node of the path
    std::uint16_t* step_;      // per node: the match length that reaches it, 0 for a literal
    std::uint16_t* distance_;  // per node: that match's distance
    std::uint16_t* lead_;      // per node: 0, or the step is a match of lead_ bytes, gap_ literals,
                               // then step_ bytes at the same distance
    std::uint16_t* reps_;      // per node: Slots recent distances (room for six)
    std::uint8_t* gap_;        // per node: the literals inside such a step
};

}  // namespace orsk
