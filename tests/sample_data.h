// Deterministic sample data that needs no test framework, shared by the unit tests and
// the fuzzers' seeds: the same bytes on every platform for a given seed.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "base/format.h"

namespace orsk::test {

using Bytes = std::vector<std::uint8_t>;

// xorshift32: the same sequence everywhere.
struct Rng {
    std::uint32_t s;
    explicit Rng(std::uint32_t seed) : s(seed * 2654435761u + 1) {}
    std::uint32_t Next() {
        s ^= s << 13;
        s ^= s >> 17;
        s ^= s << 5;
        return s;
    }
};

// n (at most letters^order) of `letters` letters from 'a' in which no group of `order`
// occurs twice: a de Bruijn sequence, the Lyndon words whose length divides the order
// in lexicographic order.
inline Bytes NoRepeats(std::size_t n, std::size_t letters = 17, std::size_t order = 4) {
    Bytes s;
    std::vector<std::size_t> w{std::size_t(0) - 1};
    while (!w.empty() && s.size() < n) {
        ++w.back();
        const std::size_t m = w.size();
        if (order % m == 0) {
            for (std::size_t x : w) s.push_back(std::uint8_t('a' + x));
        }
        while (w.size() < order) w.push_back(w[w.size() - m]);
        while (!w.empty() && w.back() == letters - 1) w.pop_back();
    }
    s.resize(n);
    return s;
}

// A chunk of literals only (NoRepeats of 32 letters: exactly 1 MiB), then `tail` letters
// (at most 26^4) in which no four repeat but for 64-byte copies from 300 to 60,000 bytes
// back. The first block of a plain container of it restores alike at FAST and BETTER;
// the blocks behind it do not.
inline Bytes LiteralLeadThenFarCopies(std::size_t tail, std::uint32_t seed) {
    constexpr std::size_t CopyLength = 64, Nearest = 300, Farthest = 60000;
    // The copies begin 64 KiB into the tail, so that every distance read 256 bytes
    // farther (BETTER's new-distance codes read at FAST) still lies inside the block:
    // such a block then restores to other bytes instead of failing.
    constexpr std::size_t FirstCopy = 65536;
    Bytes letters = NoRepeats(tail, 26);
    Rng r(seed ^ 0x5bd1e995u);
    for (std::size_t at = FirstCopy + r.Next() % 400; at + CopyLength <= letters.size(); at += 100 + r.Next() % 300) {
        const std::size_t distance = Nearest + r.Next() % (Farthest - Nearest + 1);
        std::copy_n(letters.begin() + std::ptrdiff_t(at - distance), CopyLength, letters.begin() + std::ptrdiff_t(at));
    }
    Bytes lead = NoRepeats(MaxChunkLength, 32);
    lead.insert(lead.end(), letters.begin(), letters.end());
    return lead;
}

}  // namespace orsk::test
