// Match extension shared by every level: the common prefix of two positions of one
// chunk, found 16 bytes at a time.
#pragma once

#include <cstdint>

#include "container/bytes.h"

namespace orsk {

// min(common prefix of a and b counted from `start`, limit), for start < limit.
// Compares whole 16-byte groups, so it may read up to 15 bytes past a + limit and
// b + limit; chunks carry InputSlack for that, and the cap makes the result
// independent of those bytes.
inline std::uint32_t ExtendMatch(const std::uint8_t* a, const std::uint8_t* b, std::uint32_t start,
                                 std::uint32_t limit) {
    std::uint32_t len = start;
    for (;;) {
        std::uint64_t x = LoadLE64(a + len) ^ LoadLE64(b + len);
        if (x != 0) {
            len += std::uint32_t(__builtin_ctzll(x)) >> 3;
            break;
        }
        x = LoadLE64(a + len + 8) ^ LoadLE64(b + len + 8);
        if (x != 0) {
            len += 8 + (std::uint32_t(__builtin_ctzll(x)) >> 3);
            break;
        }
        len += 16;
        if (len >= limit) break;
    }
    return len < limit ? len : limit;
}

// Multiplicative hash of the 4 bytes at p: an 18-bit table index.
inline std::uint32_t HashPosition(const std::uint8_t* p) { return (LoadLE32(p) * 0x125A517Du) >> 14; }

// Non-temporal prefetch of a candidate's bytes.
inline void PrefetchCandidate(const void* p) { __builtin_prefetch(p, 0, 0); }

}  // namespace orsk
