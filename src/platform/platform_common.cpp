// The parts of the platform layer that are the same on every system: the stage-time
// arithmetic and the tests' write-failure seam.
#include "platform/platform.h"

#include <atomic>

#include "platform/platform_internal.h"

namespace orsk::platform {

namespace {

// Bytes OutputFile may still write before the injected failure; negative: none.
std::atomic<std::int64_t> gWriteBudget{-1};

}  // namespace

void InjectWriteFailureAfter(std::int64_t bytes) { gWriteBudget.store(bytes); }

bool InjectedWriteFailure(std::size_t n) {
    const std::int64_t budget = gWriteBudget.load();
    if (budget < 0) return false;
    if (std::int64_t(n) > budget) return true;
    gWriteBudget.store(budget - std::int64_t(n));
    return false;
}

std::int64_t StageMicros(std::int64_t start, std::int64_t end, std::int64_t frequency) {
    const std::int64_t d = end - start;
    // Split so that d x 1e6 never overflows: exact same truncated result.
    return (d / frequency) * 1000000 + ((d % frequency) * 1000000) / frequency;
}

}  // namespace orsk::platform
