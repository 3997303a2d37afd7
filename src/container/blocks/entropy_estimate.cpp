// Sampled order-0 entropy estimate: one pass over about one byte in fifteen.
#include "container/blocks/entropy_estimate.h"

#include <cmath>

namespace orsk {

namespace {
// Samples are spaced 2, 3, ..., 14 bytes apart, then 15 for every further one.
constexpr std::size_t FirstStride = 2;
constexpr std::size_t LastRampStride = 14;
constexpr std::size_t SteadyStride = 15;
// The last 13 bytes are never sampled.
constexpr std::size_t UnsampledTail = 13;
// Independent counter sets for the steady samples: repeats of one byte value then
// increment different counters instead of waiting on each other.
constexpr int CounterSets = 4;
}  // namespace

double EntropyEstimate(const std::uint8_t* bytes, std::size_t n) {
    if (bytes == nullptr || n <= UnsampledTail) return 7.999;
    std::uint32_t counts[CounterSets][256] = {};
    const std::size_t stop = n - UnsampledTail;
    std::size_t p = 0;
    // The first sample, at 0, is always taken.
    for (std::size_t stride = FirstStride;; ++stride) {
        ++counts[0][bytes[p]];
        p += stride;
        if (p >= stop || stride == LastRampStride) break;
    }
    for (; p + (CounterSets - 1) * SteadyStride < stop; p += CounterSets * SteadyStride) {
        for (int k = 0; k < CounterSets; ++k) ++counts[k][bytes[p + k * SteadyStride]];
    }
    for (; p < stop; p += SteadyStride) ++counts[0][bytes[p]];

    std::uint32_t total[256];
    std::uint32_t samples = 0;
    for (int v = 0; v < 256; ++v) {
        total[v] = 0;
        for (int k = 0; k < CounterSets; ++k) total[v] += counts[k][v];
        samples += total[v];
    }
    double h = 0.0;
    for (int v = 0; v < 256; ++v) {
        if (total[v] == 0) continue;
        const double x = double(total[v]) / double(samples);
        h += std::log2(x) * x;
    }
    return h * -1.0;
}

}  // namespace orsk
