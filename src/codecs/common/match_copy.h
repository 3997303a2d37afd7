// The match copy every decoder uses: wide, overlap-safe, and equal in effect to a
// byte-by-byte forward copy from `distance` bytes back.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/bytes.h"
#include "base/format.h"

namespace orsk {

// The furthest CopyMatch writes past op + length: two 16-byte stores for a match of
// one byte.
constexpr std::size_t CopyMatchOverrun = 31;
static_assert(CopySlack >= CopyMatchOverrun);

// For a distance d of 1..7: PatternOffset[d] shifts the source of the second 4-byte
// word so that it ends inside the first, in phase (4 - PatternOffset[d] is a multiple
// of d); PatternPeriod[d] is the smallest multiple of d that is at least 8, the
// distance at which 8-byte words then repeat the pattern.
inline constexpr std::uint8_t PatternOffset[8] = {0, 1, 2, 1, 0, 4, 4, 4};
inline constexpr std::uint8_t PatternPeriod[8] = {0, 8, 8, 9, 8, 10, 12, 14};

// Copies `length` bytes (length >= 1) from op - distance to op, forward, so that a
// distance below the length repeats the last `distance` bytes. Requires
// 1 <= distance <= bytes written before op, and CopyMatchOverrun writable bytes past
// op + length (their content is unspecified afterwards). Only bytes already written
// (before op, or by this copy) are read.
inline void CopyMatch(std::uint8_t* op, std::size_t distance, std::size_t length) {
    const std::uint8_t* src = op - distance;
    if (distance >= 16) [[likely]] {
        // Each 16-byte group read ends before the group it is stored to begins. Two
        // groups without a test cover most matches; the loop takes the longer ones.
        CopyWide16(op, src, 32);
        if (length > 32) [[unlikely]] CopyWide16(op + 32, src + 32, length - 32);
        return;
    }
    if (distance >= 8) {
        // An 8-byte word read ends before the word it is stored to; 16 per step.
        std::size_t i = 0;
        do {
            StoreLE64(op + i, LoadLE64(src + i));
            StoreLE64(op + i + 8, LoadLE64(src + i + 8));
            i += 16;
        } while (i < length);
        return;
    }
    // Distance 1..7: the first 8 bytes as four single bytes and a 4-byte word read
    // from inside them, then 8-byte words from PatternPeriod bytes back, which is at
    // least 8, so each word read ends before the word it is stored to.
    op[0] = src[0];
    op[1] = src[1];
    op[2] = src[2];
    op[3] = src[3];
    StoreLE32(op + 4, LoadLE32(src + PatternOffset[distance]));
    const std::size_t period = PatternPeriod[distance];
    for (std::size_t i = 8; i < length; i += 8) StoreLE64(op + i, LoadLE64(op + i - period));
}

}  // namespace orsk
