// Sampled order-0 entropy estimate: one pass over about one byte in fifteen.
#include "container/entropy_estimate.h"

#include <cmath>

namespace orsk {

double EntropyEstimate(const std::uint8_t* bytes, std::size_t n) {
    if (bytes == nullptr || n <= 13) return 7.999;
    std::uint32_t counts[256] = {};
    std::uint32_t samples = 0;
    const std::size_t stop = n - 13;
    std::size_t p = 0;
    std::size_t step = 0;
    // Strides 2, 3, ..., 14, then 15 for every further sample.
    do {
        ++step;
        ++counts[bytes[p]];
        ++samples;
        p += step + 1;
        if (step > 13) step = 13;
    } while (p < stop);

    double h = 0.0;
    for (int v = 0; v < 256; ++v) {
        if (counts[v] == 0) continue;
        const double x = double(counts[v]) / double(samples);
        h += std::log2(x) * x;
    }
    return h * -1.0;
}

}  // namespace orsk
