// The match copy every decoder uses: wide, overlap-safe, and equal in effect to a
// byte-by-byte forward copy from `distance` bytes back.
#pragma once

#include <cstddef>
#include <cstdint>

#include "container/bytes.h"
#include "container/format.h"

namespace orsk {

// The furthest CopyMatch writes past op + length: one 16-byte store begun just
// before the end.
constexpr std::size_t CopyMatchOverrun = 15;
static_assert(CopySlack >= CopyMatchOverrun);

// Copies `length` bytes (length >= 1) from op - distance to op, forward, so that a
// distance below the length repeats the last `distance` bytes. Requires
// 1 <= distance <= bytes written before op, and CopyMatchOverrun writable bytes past
// op + length (their content is unspecified afterwards). Only bytes already written
// (before op, or by this copy) are read.
inline void CopyMatch(std::uint8_t* op, std::size_t distance, std::size_t length) {
    const std::uint8_t* src = op - distance;
    if (distance >= 16) [[likely]] {
        // Each 16-byte group read ends before the group it is stored to begins.
        CopyWide16(op, src, length);
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
    // Distance 1..7: lay down the first 16 bytes of the repeating pattern one by one,
    // then store that pattern again every `step` bytes. step is the largest multiple
    // of the distance not above 16, so every store continues the pattern in phase.
    for (std::size_t i = 0; i < 16; ++i) op[i] = src[i];
    if (length <= 16) return;
    std::uint8_t pattern[16];
    std::memcpy(pattern, op, 16);
    const std::size_t step = 16 - 16 % distance;
    for (std::size_t i = step; i < length; i += step) std::memcpy(op + i, pattern, 16);
}

}  // namespace orsk
