// The hash-chain match finder of levels 2 to 5: a head per hash and a ring of
// previous-position links, searched newest first.
#pragma once

#include <cstddef>
#include <cstdint>

#include "codecs/hyperfast/match_length.h"
#include "container/workspace.h"

namespace orsk {

constexpr std::uint32_t MaxMatchLength = 65535;
constexpr std::uint32_t ChainMask = HashTableEntries - 1;

struct Match {
    std::uint32_t length = 0;
    std::uint32_t distance = 0;
};

struct ChainFinder {
    const std::uint8_t* chunk;
    std::uint32_t n;              // chunk length
    std::uint32_t window;         // a candidate lies strictly after p - window
    std::uint32_t maxChainSteps;  // the walk stops once more than this many were examined
    std::uint32_t* head;          // cleared per chunk
    std::uint32_t* chain;         // indexed by position mod 2^18; every entry read was
                                  // written in this chunk since the window < 2^18
};

// Empties the heads; the chain ring needs no clearing.
inline void ResetChainFinder(ChainFinder& f) {
    for (std::size_t i = 0; i < HashTableEntries; ++i) f.head[i] = 0;
}

inline void InsertPosition(ChainFinder& f, std::uint32_t p) {
    const std::uint32_t h = HashPosition(f.chunk + p);
    f.chain[p & ChainMask] = f.head[h];
    f.head[h] = p;
}

// The longest match at p strictly longer than `best` (ties keep the nearest, found
// first), or `best` unchanged.
inline Match SearchChain(const ChainFinder& f, std::uint32_t p, Match best) {
    const std::uint32_t left = f.n - p;
    const std::uint32_t limit = left < MaxMatchLength ? left : MaxMatchLength;
    const std::uint32_t lower = p > f.window ? p - f.window : 0;
    const std::uint8_t* const here = f.chunk + p;
    const std::uint32_t here4 = LoadLE32(here);
    std::uint32_t cand = f.head[HashPosition(here)];
    std::uint32_t examined = 0;
    while (cand > lower) {
        const std::uint8_t* const there = f.chunk + cand;
        PrefetchCandidate(there + best.length);
        if (there[best.length] == here[best.length] && LoadLE32(there) == here4) {
            const std::uint32_t len = ExtendMatch(here, there, 4, limit);
            if (len > best.length) {
                best.length = len;
                best.distance = p - cand;
                if (len == limit) break;
            }
        }
        if (++examined > f.maxChainSteps) break;
        cand = f.chain[cand & ChainMask];
    }
    return best;
}

}  // namespace orsk
