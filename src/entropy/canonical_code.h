// Lengths by list position and canonical code values from LengthCounts: the one rule
// the stream encoder and decoder share, so both derive the same code from a header.
#pragma once

#include <cstdint>

#include "entropy/stream_coder.h"

namespace orsk {

// Gives the first lengthCounts[12] entries of `codes` length 12, the next
// lengthCounts[11] length 11, ... down to 1, then canonical values: the last entry (most
// frequent) gets the all-zero code of the shortest length and values rise toward
// position 0. Requires lengthCounts[1..12] to sum to `n` and a Kraft sum of at most 1,
// so that every value fits its length.
void AssignCanonicalCodes(const std::uint32_t lengthCounts[13], unsigned n, CodeEntry codes[256]);

}  // namespace orsk
