// Shared internals of the platform implementations.
#pragma once

#include <cstddef>

namespace orsk::platform {

// True when a write of n bytes must fail, as a test asked through InjectWriteFailureAfter.
bool InjectedWriteFailure(std::size_t n);

}  // namespace orsk::platform
