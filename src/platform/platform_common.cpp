// The parts of the platform layer that are the same on every system: the stage-time
// arithmetic and the tests' write-failure seam of an output file.
#include "platform/platform.h"

namespace orsk::platform {

bool OutputFile::SpendWriteBudget(std::size_t n) {
    if (writeBudget_ < 0) return true;
    if (std::int64_t(n) > writeBudget_) return false;
    writeBudget_ -= std::int64_t(n);
    return true;
}

std::int64_t StageMicros(std::int64_t start, std::int64_t end, std::int64_t frequency) {
    const std::int64_t d = end - start;
    // Split so that d x 1e6 never overflows: exact same truncated result.
    return (d / frequency) * 1000000 + ((d % frequency) * 1000000) / frequency;
}

}  // namespace orsk::platform
