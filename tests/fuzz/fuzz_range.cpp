// Fuzz target: byte ranges of an arbitrary container through orsk_decompress_range. The
// first byte picks the level (its low three bits modulo 7; 6 leaves it to the
// container), the next six three ranges (offset as a share of what the container
// restores, length in 64-byte steps); the container follows. Invariants: where the
// restore of the whole succeeds, a range gives exactly its bytes (or, with the level left
// to the container, may find the level untold), an offset past the end is out of range,
// and the range of everything fails as the restore does; nothing writes past what a
// range may hold.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "orsk/orsk.h"

namespace {

// As the container target: restored bytes beyond this are not compared.
// Two buffers that long, allocated once: the restore's and the whole range's.
constexpr std::size_t MaxRestored = std::size_t(32) << 20;
std::uint8_t* SharedOutput(int k) {
    static const std::unique_ptr<std::uint8_t[]> buffers[2] = {std::unique_ptr<std::uint8_t[]>(new std::uint8_t[MaxRestored]),
                                                              std::unique_ptr<std::uint8_t[]>(new std::uint8_t[MaxRestored])};
    return buffers[k].get();
}

bool TooLarge(orsk_status s) { return s == ORSK_NO_ROOM || s == ORSK_OUT_OF_MEMORY; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    constexpr std::size_t Head = 7;
    if (size < Head) return 0;
    const int pick = (data[0] & 7) % 7;
    const int level = pick == 6 ? ORSK_LEVEL_FROM_CONTAINER : pick;
    const std::uint8_t* c = data + Head;
    const std::size_t n = size - Head;

    std::uint64_t claimed = 0;
    const bool sized = orsk_decompressed_size(level, c, n, &claimed) == ORSK_OK;
    if (sized && claimed > MaxRestored) return 0;
    std::uint8_t* const full = SharedOutput(0);
    size_t restored = 0;
    const orsk_status whole = orsk_decompress(level, c, n, full, MaxRestored, &restored);
    if (TooLarge(whole)) return 0;
    const bool ok = whole == ORSK_OK;
    // The whole range restores as the restore does (into a buffer of its own).
    std::uint8_t* const all = SharedOutput(1);
    size_t made = 0;
    const orsk_status everything = orsk_decompress_range(level, c, n, 0, UINT64_MAX, all, MaxRestored, &made);
    if (everything != whole || (ok && (made != restored || !std::equal(full, full + made, all)))) std::abort();

    const std::uint64_t span = (ok ? restored : sized ? claimed : 4 << 20) + 2;
    for (int k = 0; k < 3; ++k) {
        const std::uint64_t offset = span * data[1 + 2 * k] / 255;
        const std::uint64_t length = std::uint64_t(data[2 + 2 * k]) * 64 + (data[1 + 2 * k] & 3);
        // Exactly the room the range needs when the restore tells it (an overrun reaches
        // the end of the allocation), else the shared buffer's.
        const std::uint64_t want = ok && offset <= restored ? std::min<std::uint64_t>(length, restored - offset) : 0;
        const std::unique_ptr<std::uint8_t[]> exact(ok ? new std::uint8_t[want] : nullptr);
        std::uint8_t* const out = ok ? exact.get() : all;
        size_t got = 99;
        const orsk_status s = orsk_decompress_range(level, c, n, offset, length, out, ok ? want : MaxRestored, &got);
        if (s != ORSK_OK && got != 0) std::abort();
        if (s == ORSK_OK && got > length) std::abort();
        if (!ok || TooLarge(s)) continue;
        if (offset > restored) {
            if (s != ORSK_OUT_OF_RANGE && s != ORSK_UNKNOWN_LEVEL) std::abort();
        } else if (s == ORSK_OK) {
            if (got != want || !std::equal(full + offset, full + offset + want, out)) std::abort();
        } else if (s != ORSK_UNKNOWN_LEVEL || level != ORSK_LEVEL_FROM_CONTAINER) {
            std::abort();
        }
    }
    return 0;
}
