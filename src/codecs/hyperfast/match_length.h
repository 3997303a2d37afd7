// Match extension shared by every level: the common prefix of two positions of one
// chunk, found 16 bytes at a time.
#pragma once

#include <cstdint>

#include "base/bytes.h"

namespace orsk {

// Length codes 0..14 are the length itself; 15 says an extension follows.
constexpr std::uint32_t LengthEscapeCode = 15;
// The longest match one sequence carries at every level (a 16-bit extension).
constexpr std::uint32_t MaxMatchLength = 65535;

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

// Multiplicative hash of a 4-byte group (little-endian): an 18-bit table index.
inline std::uint32_t HashGroup(std::uint32_t group) { return (group * 0x125A517Du) >> 14; }

// HashGroup of the 4 bytes at p.
inline std::uint32_t HashPosition(const std::uint8_t* p) { return HashGroup(LoadLE32(p)); }

// Non-temporal prefetch of a candidate's bytes.
inline void PrefetchCandidate(const void* p) { __builtin_prefetch(p, 0, 0); }

}  // namespace orsk
