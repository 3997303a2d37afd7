// What the C calls of include/orsk/orsk.h share: statuses in public terms and the checks
// of caller-given levels and buffers.
#pragma once

#include <cstddef>

#include "base/format.h"
#include "container/format/checked.h"
#include "orsk/orsk.h"

namespace orsk::api {

orsk_status ToPublic(Status s);
inline bool ValidLevel(int level) { return level >= ORSK_MIN_LEVEL && level <= ORSK_MAX_LEVEL; }
// A restore's level: one of the six, or ORSK_LEVEL_FROM_CONTAINER.
inline bool ValidRestoreLevel(int level) { return level == ORSK_LEVEL_FROM_CONTAINER || ValidLevel(level); }
inline LevelRequest RequestOf(int level) {
    return level == ORSK_LEVEL_FROM_CONTAINER ? LevelFromContainer : Level(level);
}
constexpr unsigned KnownFlags = ORSK_FLAG_CHECKED | ORSK_EFFORT_MASK;
inline ContainerKind KindOf(unsigned flags) {
    return flags & ORSK_FLAG_CHECKED ? ContainerKind::Checked : ContainerKind::Plain;
}
inline unsigned EffortOf(unsigned flags) { return (flags & ORSK_EFFORT_MASK) >> 4; }
// Compression flags: only known ones, and an effort of at most MaxEffort.
inline bool ValidCompressFlags(unsigned flags) { return (flags & ~KnownFlags) == 0 && EffortOf(flags) <= MaxEffort; }
// Checks the arguments of a call that reads `in` and writes `out` (null only with size
// 0, buffers apart, `result` given), clamping sizes near the end of the address space.
orsk_status CheckBuffers(const void* in, std::size_t& inSize, const void* out, std::size_t& outSize,
                         const void* result);
// The size of a caller's range, cut so that its end is a valid address.
std::size_t ClampedSize(const void* p, std::size_t size);

}  // namespace orsk::api
