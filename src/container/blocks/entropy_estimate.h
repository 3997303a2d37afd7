// Sampled order-0 entropy of a byte area in bits per byte: decides which chunks are
// stored and which literal streams are worth coding.
#pragma once

#include <cstddef>
#include <cstdint>

namespace orsk {

// 7.999 for null or n <= 13; otherwise the entropy of the sampled bytes (positions
// 0, 2, 5, 9, ... with strides growing to 15; the last 13 bytes never count).
double EntropyEstimate(const std::uint8_t* bytes, std::size_t n);

}  // namespace orsk
