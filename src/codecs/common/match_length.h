// How long a match or a literal run may be, and how a match's length is measured: the
// common prefix of two positions of one chunk, found 16 bytes at a time. Shared by
// every level's parse.
#pragma once

#include <cstdint>

#include "base/bytes.h"

namespace orsk {

// A match needs 4 equal bytes: the hashed group.
constexpr std::uint32_t MinMatchLength = 4;
// Length codes 0..14 are the length itself; 15 says an extension follows.
constexpr std::uint32_t LengthEscapeCode = 15;
// The longest match one sequence carries at every level (a 16-bit extension).
constexpr std::uint32_t MaxMatchLength = 65535;
// The longest literal run one sequence carries before the chunk's unsearched tail; a
// longer run is cut into literal-only sequences of exactly this many bytes.
constexpr std::uint32_t MaxLiteralRun = 65535;

// min(common prefix of a and b counted from `start`, limit), for start < limit.
// Compares whole 16-byte groups, so it may read up to 15 bytes past a + limit and
// b + limit; chunks carry InputSlack for that, and the cap makes the result
// independent of those bytes.
inline std::uint32_t ExtendMatch(const std::uint8_t* a, const std::uint8_t* b, std::uint32_t start,
                                 std::uint32_t limit) {
    std::uint32_t len = start;
    for (;;) {
        // One branch per 16 bytes: most matches end inside the first group.
        const std::uint64_t x0 = LoadLE64(a + len) ^ LoadLE64(b + len);
        const std::uint64_t x1 = LoadLE64(a + len + 8) ^ LoadLE64(b + len + 8);
        if ((x0 | x1) != 0) {
            const std::uint64_t x = x0 != 0 ? x0 : x1;
            len += (x0 != 0 ? 0 : 8) + (std::uint32_t(__builtin_ctzll(x)) >> 3);
            break;
        }
        len += 16;
        if (len >= limit) break;
    }
    return len < limit ? len : limit;
}

// The longest match at p in a chunk of `size` bytes: the bytes left, at most
// MaxMatchLength.
inline std::uint32_t MatchLimit(std::uint32_t size, std::uint32_t p) {
    const std::uint32_t left = size - p;
    return left < MaxMatchLength ? left : MaxMatchLength;
}

}  // namespace orsk
