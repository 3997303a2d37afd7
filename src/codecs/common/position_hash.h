// The hash every level's match finder indexes positions by: a multiplicative hash of
// the 4-byte group at a position, kept to an 18-bit table index.
#pragma once

#include <cstdint>

#include "base/bytes.h"

namespace orsk {

// Multiplicative hash of a 4-byte group (little-endian): an 18-bit table index.
inline std::uint32_t HashGroup(std::uint32_t group) { return (group * 0x125A517Du) >> 14; }

// HashGroup of the 4 bytes at p.
inline std::uint32_t HashPosition(const std::uint8_t* p) { return HashGroup(LoadLE32(p)); }

}  // namespace orsk
