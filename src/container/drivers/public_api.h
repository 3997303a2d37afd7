// What the C calls of include/orsk/orsk.h share: statuses in public terms and the checks
// of caller-given levels and buffers.
#pragma once

#include <cstddef>

#include "base/format.h"
#include "orsk/orsk.h"

namespace orsk::api {

orsk_status ToPublic(Status s);
inline bool ValidLevel(int level) { return level >= ORSK_MIN_LEVEL && level <= ORSK_MAX_LEVEL; }
// Checks the arguments of a call that reads `in` and writes `out` (null only with size
// 0, buffers apart, `result` given), clamping sizes near the end of the address space.
orsk_status CheckBuffers(const void* in, std::size_t& inSize, const void* out, std::size_t& outSize,
                         const void* result);
// The size of a caller's range, cut so that its end is a valid address.
std::size_t ClampedSize(const void* p, std::size_t size);

}  // namespace orsk::api
