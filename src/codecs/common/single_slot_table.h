// The table of the one-slot parses (levels 0 and 1): one entry per 18-bit hash, the
// last position stored there, 0 for none. Clearing it and fetching its slots ahead.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "base/bytes.h"
#include "codecs/common/position_hash.h"

namespace orsk {

// Up to this chunk length, emptying the slots of every position costs less than
// clearing the whole table (measured: about even at 16 KiB).
constexpr std::size_t SlotClearLimit = 16384;

// Empties every slot whose entry a one-slot parse of chunk[0..n) can use: the slots
// of positions 0 .. n - 1 (their groups reach into the chunk's slack). Other slots
// keep stale entries, which such a parse may read ahead but never uses.
inline void ClearSlotTable(std::uint32_t* table, std::size_t tableEntries, const std::uint8_t* chunk, std::size_t n) {
    if (n > SlotClearLimit) {
        std::memset(table, 0, tableEntries * sizeof(std::uint32_t));
        return;
    }
    for (std::size_t p = 0; p < n; ++p) table[HashPosition(chunk + p)] = 0;
}

// The table does not fit L1: a slot needed soon is fetched ahead, for writing. Both
// helpers are inlined by force: GCC takes a function that only prefetches for one
// without effects and drops its calls, and PrefetchSlotsAfterMatch emitted nothing.
[[gnu::always_inline]] inline void PrefetchSlot(const std::uint32_t* slot) { __builtin_prefetch(slot, 1, 3); }

// Most matches are 4 to 7 bytes long, so the parse resumes at one of those positions
// after a match at p: their slots are fetched while the match is measured. Reads the
// 8 bytes at p + 4.
[[gnu::always_inline]] inline void PrefetchSlotsAfterMatch(const std::uint32_t* table, const std::uint8_t* p) {
    const std::uint64_t ahead = LoadLE64(p + 4);
    PrefetchSlot(table + HashGroup(std::uint32_t(ahead)));
    PrefetchSlot(table + HashGroup(std::uint32_t(ahead >> 8)));
    PrefetchSlot(table + HashGroup(std::uint32_t(ahead >> 16)));
    PrefetchSlot(table + HashGroup(std::uint32_t(ahead >> 24)));
}

}  // namespace orsk
