// The hash-chain match finder of levels 2 to 5: a head per hash and, per position, links
// back to the previous positions of the same hash, searched newest first.
#pragma once

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "codecs/common/match_length.h"
#include "codecs/common/position_hash.h"
#include "container/blocks/workspace.h"

namespace orsk {

// The chain is kept as distances: each position's entry holds, in 16-bit lanes, how far
// back its 1st, 2nd, ... Lanes-th previous position of the same hash lies. A walk then
// reaches Lanes candidates per dependent load. Entries live in a ring of 2^16 indexed by
// position: a walk reads the entry of a candidate less than a window (at most 65,535)
// behind the searched position, and the next position sharing its slot is 65,536 ahead
// of it, not inserted yet.
constexpr std::uint32_t MaxChainWindow = 65535;
constexpr std::uint32_t LinkRingMask = 0xFFFF;
// A distance this large (or one to no position at all) reaches outside every window, so
// a lane holds min(distance, FarLink).
constexpr std::uint32_t FarLink = 0xFFFF;

struct Match {
    std::uint32_t length = 0;
    std::uint32_t distance = 0;
};

template <int Lanes>
struct ChainFinder {
    static_assert(Lanes == 1 || Lanes == 2 || Lanes == 4);
    using Entry = std::conditional_t<Lanes == 1, std::uint16_t,
                                     std::conditional_t<Lanes == 2, std::uint32_t, std::uint64_t>>;
    static_assert(HashTableEntries * sizeof(std::uint32_t) >= (LinkRingMask + 1) * sizeof(Entry));

    const std::uint8_t* chunk;
    std::uint32_t n;              // chunk length
    std::uint32_t window;         // a candidate lies strictly after p - window; <= MaxChainWindow
    std::uint32_t maxChainSteps;  // the walk stops once more than this many were examined
    std::uint32_t* head;          // reads empty in each chunk; 0 is empty (position 0 is never a candidate)
    std::uint8_t* links;          // the entry ring, in the scratch's chain table; never cleared
};

// Below this chunk length, clearing only the heads the chunk's positions hash to is
// cheaper than clearing all 2^18 (1 MiB).
constexpr std::uint32_t SparseClearLength = 8192;

// A finder over chunk[0..n) whose heads read empty: every head a parse reads belongs
// to a position below n, so a short chunk clears just those.
template <int Lanes>
inline ChainFinder<Lanes> MakeChainFinder(EncoderScratch& scratch, const std::uint8_t* chunk, std::uint32_t n,
                                          std::uint32_t window, std::uint32_t maxChainSteps) {
    assert(window <= MaxChainWindow);
    ChainFinder<Lanes> f{chunk, n, window, maxChainSteps, scratch.hashHead,
                         reinterpret_cast<std::uint8_t*>(scratch.hashChain)};
    if (n <= SparseClearLength) {
        for (std::uint32_t p = 0; p < n; ++p) f.head[HashPosition(chunk + p)] = 0;
    } else {
        std::memset(f.head, 0, HashTableEntries * sizeof(std::uint32_t));
    }
    return f;
}

template <int Lanes>
inline void PrefetchHead(const ChainFinder<Lanes>& f, std::uint32_t h) {
    __builtin_prefetch(f.head + h, 1, 3);
}

template <int Lanes>
inline void PrefetchEntry(const ChainFinder<Lanes>& f, std::uint32_t p) {
    __builtin_prefetch(f.links + std::size_t(p & LinkRingMask) * sizeof(typename ChainFinder<Lanes>::Entry));
}

template <int Lanes>
inline std::uint64_t LoadEntry(const std::uint8_t* links, std::uint32_t p) {
    typename ChainFinder<Lanes>::Entry v;
    std::memcpy(&v, links + std::size_t(p & LinkRingMask) * sizeof(v), sizeof(v));
    return v;
}

// The entry of p, whose head entry (read after every earlier insert) is `prev`: heads
// only grow, so prev < p. Lane k + 1 is the first lane plus prev's lane k, exact when
// the first lane names a real position (non-zero, less than FarLink back, so its slot
// is still its own). Otherwise the later lanes are filler: a walk reads lane k + 1
// only after lanes 1..k named candidates.
template <int Lanes>
inline void StoreEntry(std::uint8_t* links, std::uint32_t p, std::uint32_t prev) {
    using Entry = typename ChainFinder<Lanes>::Entry;
    const std::uint32_t gap = p - prev;
    const std::uint32_t first = gap < FarLink ? gap : FarLink;
    std::uint64_t e = first;
    if constexpr (Lanes > 1) {
        // Filler comes from a zero entry rather than prev's slot, which may never have
        // been written; a pointer select keeps this free of branches.
        static constexpr Entry zero = 0;
        const bool real = prev != 0 && gap < FarLink;
        const std::uint8_t* const from = real ? links + std::size_t(prev & LinkRingMask) * sizeof(Entry)
                                              : reinterpret_cast<const std::uint8_t*>(&zero);
        Entry back;
        std::memcpy(&back, from, sizeof(back));
        for (int k = 1; k < Lanes; ++k) {
            const std::uint32_t sum = first + std::uint32_t(std::uint64_t(back) >> (16 * (k - 1)) & 0xFFFF);
            e |= std::uint64_t(sum < FarLink ? sum : FarLink) << (16 * k);
        }
    }
    const Entry v = Entry(e);
    std::memcpy(links + std::size_t(p & LinkRingMask) * sizeof(v), &v, sizeof(v));
}

// Inserts p, whose hash is h and whose head entry is prev.
template <int Lanes>
inline void InsertWithHead(ChainFinder<Lanes>& f, std::uint32_t p, std::uint32_t h, std::uint32_t prev) {
    StoreEntry<Lanes>(f.links, p, prev);
    f.head[h] = p;
}

// How many inserts ahead InsertPositions requests a head (a random read that misses
// L2): enough iterations to cover a trip to L3.
constexpr std::uint32_t InsertPrefetchDistance = 16;

// Requests the heads of positions [from, from + count), which are read soon; the
// hashed bytes must lie inside the chunk's slack.
template <int Lanes>
inline void PrefetchHeads(const ChainFinder<Lanes>& f, std::uint32_t from, std::uint32_t count) {
    for (std::uint32_t q = from; q < from + count; ++q) PrefetchHead(f, HashPosition(f.chunk + q));
}

// Inserts the positions [from, to) in order.
template <int Lanes>
inline void InsertPositions(ChainFinder<Lanes>& f, std::uint32_t from, std::uint32_t to) {
    // Locals: the stores below could otherwise alias the finder's fields.
    const std::uint8_t* const chunk = f.chunk;
    std::uint32_t* const head = f.head;
    std::uint8_t* const links = f.links;
    for (std::uint32_t p = from; p < to; ++p) {
        // Heads are random reads far beyond L1: request them a few inserts ahead (p +
        // InsertPrefetchDistance + 3 stays inside the chunk's slack).
        __builtin_prefetch(head + HashPosition(chunk + p + InsertPrefetchDistance), 1, 3);
        const std::uint32_t h = HashPosition(chunk + p);
        StoreEntry<Lanes>(links, p, head[h]);
        head[h] = p;
    }
}

// NORMAL, BETTER and BEST add the positions a match covers to the chains: from its
// start + 2 (start + 1 was searched by the lazy look) up to, not including, start +
// min(length, CoveredInsertLimit).
constexpr std::uint32_t CoveredInsertLimit = 255;

// Requests the heads of the first covered positions of a match of `length` at pos before
// the lazy look decides between it and the next position's, which cover the same ones.
template <int Lanes>
inline void PrefetchCoveredHeads(const ChainFinder<Lanes>& f, std::uint32_t pos, std::uint32_t length) {
    const std::uint32_t ahead = length - 2;
    PrefetchHeads(f, pos + 2, ahead < InsertPrefetchDistance ? ahead : InsertPrefetchDistance);
}

template <int Lanes>
inline void InsertCoveredPositions(ChainFinder<Lanes>& f, std::uint32_t pos, std::uint32_t length) {
    InsertPositions(f, pos + 2, pos + (length < CoveredInsertLimit ? length : CoveredInsertLimit));
}

// The position of a parse with a one-position lazy look, and the hashes of it and of the
// next two positions, whose heads are requested ahead of their reads. Hashes read 4
// bytes at most at n + 4, inside the chunk's slack.
struct LazyCursor {
    std::uint32_t pos = 0;
    std::uint32_t h = 0;   // of pos
    std::uint32_t h1 = 0;  // of pos + 1, the lazy look
    std::uint32_t h2 = 0;  // of pos + 2, once RequestAhead ran for this step

    // Moves the parse to p, requesting the heads of its step and lazy look.
    template <int Lanes>
    void JumpTo(const ChainFinder<Lanes>& f, std::uint32_t p) {
        pos = p;
        h = HashPosition(f.chunk + p);
        h1 = HashPosition(f.chunk + p + 1);
        PrefetchHead(f, h);
        PrefetchHead(f, h1);
    }
    // At the start of a step: pos + 2 is the next step's lazy look, or the step after it.
    template <int Lanes>
    void RequestAhead(const ChainFinder<Lanes>& f) {
        h2 = HashPosition(f.chunk + pos + 2);
        PrefetchHead(f, h2);
    }
    // After a literal step: on to pos + 1.
    void StepOne() {
        ++pos;
        h = h1;
        h1 = h2;
    }
};

// The longest match at p strictly longer than `best` (ties keep the nearest, found
// first), or `best` unchanged; `cand` is the head of p's hash. At most
// maxChainSteps + 1 candidates are examined, newest first, while they lie after
// p - window; the walk ends early at a match of the length limit.
template <int Lanes>
[[gnu::always_inline]] inline Match SearchChainFrom(const ChainFinder<Lanes>& f, std::uint32_t p, std::uint32_t cand,
                                                    Match best) {
    const std::uint32_t lower = p > f.window ? p - f.window : 0;
    if (cand <= lower) return best;
    const std::uint32_t limit = MatchLimit(f.n, p);
    const std::uint8_t* const chunk = f.chunk;
    const std::uint8_t* const links = f.links;
    const std::uint8_t* const here = chunk + p;
    std::uint32_t bestLength = best.length;
    std::uint32_t bestCand = p - best.distance;
    // A candidate wins only by matching more than `floor` bytes: more than the best so
    // far, and more than 3, as a match needs 4. So its 4 bytes ending at `floor` must
    // equal here's, which one load tests (a single byte there lets through far more
    // candidates that then fail); only then is the whole prefix compared, from its
    // first byte, since a hash may be shared by other 4-byte groups. They are read
    // through atFloor = chunk + floor - 3. here + floor <= chunk end + 1 (callers keep
    // best <= limit + 1, and p + 3 lies inside the chunk): inside the slack.
    std::uint32_t floor = bestLength > MinMatchLength - 1 ? bestLength : MinMatchLength - 1;
    const std::uint8_t* atFloor = chunk + floor - 3;
    std::uint32_t hereAtFloor = LoadLE32(here + floor - 3);
    std::uint32_t left = f.maxChainSteps + 1;  // candidates the budget still allows
    // Candidate c, tested and, when it passes, measured; true when the walk ends (a
    // match reached the length limit).
    auto endsAt = [&](std::uint32_t c) {
        if (LoadLE32(atFloor + c) != hereAtFloor) [[likely]] return false;
        const std::uint32_t len = ExtendMatch(here, chunk + c, 0, limit);
        if (len <= floor) return false;
        bestLength = floor = len;
        bestCand = c;
        if (len == limit) return true;
        atFloor = chunk + len - 3;
        hereAtFloor = LoadLE32(here + len - 3);
        return false;
    };
    auto lane = [](std::uint64_t entry, int k) { return std::uint32_t(entry >> (16 * k) & 0xFFFF); };
    // Each exit is tested once per candidate, after it: the compiled loop stays short.
    if constexpr (Lanes == 1) {
        for (;;) {
            const std::uint32_t gap = std::uint32_t(LoadEntry<1>(links, cand));
            if (endsAt(cand) || --left == 0 || gap >= cand - lower) break;
            cand -= gap;
        }
        return Match{bestLength, p - bestCand};
    }
    for (;;) {
        const std::uint64_t entry = LoadEntry<Lanes>(links, cand);
        // A linked position cand - gap is a candidate when it lies above lower.
        const std::uint32_t reach = cand - lower;
        const std::uint32_t gap = lane(entry, Lanes - 1);
        // The next entry, requested before this one's compares: a mispredicted compare
        // cannot delay it.
        PrefetchEntry(f, cand - gap);
        // Lanes grow (a capped one, FarLink, is never in reach), so with the last in
        // reach every lane names a candidate; when the budget also outlasts them, only
        // their tests remain.
        if (gap < reach && left > std::uint32_t(Lanes)) [[likely]] {
            if (endsAt(cand) || endsAt(cand - lane(entry, 0))) break;
            if constexpr (Lanes > 2) {
                if (endsAt(cand - lane(entry, 1)) || endsAt(cand - lane(entry, 2))) break;
            }
            left -= Lanes;
            cand -= gap;
            continue;
        }
        if (endsAt(cand) || --left == 0) break;
        if (lane(entry, 0) >= reach || endsAt(cand - lane(entry, 0)) || --left == 0) break;
        if constexpr (Lanes > 2) {
            if (lane(entry, 1) >= reach || endsAt(cand - lane(entry, 1)) || --left == 0) break;
            if (lane(entry, 2) >= reach || endsAt(cand - lane(entry, 2)) || --left == 0) break;
        }
        if (gap >= reach) break;
        cand -= gap;
    }
    return Match{bestLength, p - bestCand};
}

}  // namespace orsk
