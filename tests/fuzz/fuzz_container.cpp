// Fuzz target: an arbitrary container read through the C interface as callers read it:
// orsk_decompress with the level left to the container, orsk_salvage with that and with
// a level, orsk_inspect, and the decompress stream fed in pieces of chosen sizes. The
// first byte picks the salvage level (low three bits) and the piece sizes (next three),
// the second seeds them; the container follows. Invariants: the one-shot call and the
// stream agree on the status class and the bytes; the level left to the container gives
// no other bytes than a level that restores it whole; where a restore succeeds, salvage
// gives the same bytes and no ranges; salvage ranges are in order inside the output;
// inspect's restored size is the one-shot's output size when both succeed.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "orsk/orsk.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// Restored bytes beyond this are not compared: a hostile container of tiny blocks that
// each restore 1 MiB would take too long and too much memory. Where no size can be
// claimed, restores write into one buffer this long, allocated once.
constexpr std::size_t MaxRestored = std::size_t(32) << 20;
std::uint8_t* SharedOutput() {
    static const std::unique_ptr<std::uint8_t[]> buffer(new std::uint8_t[MaxRestored]);
    return buffer.get();
}

bool TooLarge(orsk_status s) { return s == ORSK_NO_ROOM || s == ORSK_OUT_OF_MEMORY; }

// What a failure is about: the level (told or not), or the bytes. Within a class readers
// that hold bytes differently may differ (a cut may show as damage).
int ClassOf(orsk_status s) { return s == ORSK_OK ? 0 : s == ORSK_UNKNOWN_LEVEL ? 1 : 2; }

struct Restore {
    orsk_status status = ORSK_OK;
    Bytes bytes;
};

// orsk_decompress into a buffer of exactly the claimed size when one is claimed (an
// overrun reaches the end of the allocation), else into the shared buffer.
Restore OneShot(int level, const std::uint8_t* c, std::size_t n) {
    std::uint64_t claimed = 0;
    const bool sized = orsk_decompressed_size(level, c, n, &claimed) == ORSK_OK;
    if (sized && claimed > MaxRestored) return {ORSK_NO_ROOM, {}};
    const std::unique_ptr<std::uint8_t[]> exact(sized ? new std::uint8_t[claimed] : nullptr);
    std::uint8_t* out = sized ? exact.get() : SharedOutput();
    size_t made = 0;
    Restore r{orsk_decompress(level, c, n, out, sized ? claimed : MaxRestored, &made), {}};
    if ((r.status == ORSK_OK && sized && made != claimed) || (r.status != ORSK_OK && made != 0)) std::abort();
    r.bytes.assign(out, out + made);
    return r;
}

// orsk_salvage: the restore's bytes and no ranges where the restore at that level
// succeeds, ranges in order inside the output otherwise, nothing when it fails.
void CheckSalvage(int level, const std::uint8_t* c, std::size_t n, const Restore& restore) {
    orsk_damaged_range ranges[16];
    size_t made = 0, count = 0;
    const orsk_status s = orsk_salvage(level, c, n, SharedOutput(), MaxRestored, &made, ranges, 16, &count);
    if (TooLarge(s)) return;
    if (s != ORSK_OK && s != ORSK_DAMAGED) {
        if (made != 0 || count != 0 || restore.status == ORSK_OK) std::abort();
        return;
    }
    if ((s == ORSK_DAMAGED) != (count != 0) || (s == ORSK_OK) != (restore.status == ORSK_OK)) std::abort();
    if (s == ORSK_OK && (made != restore.bytes.size() || !std::equal(restore.bytes.begin(), restore.bytes.end(), SharedOutput()))) {
        std::abort();
    }
    std::uint64_t next = 0;
    for (std::size_t i = 0; i < std::min<std::size_t>(count, 16); ++i) {
        const orsk_damaged_range& d = ranges[i];
        if (d.offset < next || d.length > made || d.offset > made - d.length) std::abort();
        if (i != 0 && d.block < ranges[i - 1].block) std::abort();
        next = d.offset + d.length;
    }
}

// Piece sizes from the input's first two bytes, up to a bound the shape picks, never so
// small that a 3 MiB container takes more than a few thousand calls.
struct Pieces {
    std::uint32_t state;
    std::size_t least, most;
    std::size_t Next() {
        state = state * 1664525u + 1013904223u;
        return least + (state >> 8) % (most - least + 1);
    }
};

// The decompress stream with the level left to the container, output drained into
// buffers of piece sizes too; a stream that takes and gives nothing with room fails.
Restore Streamed(const std::uint8_t* c, std::size_t n, Pieces pieces) {
    Restore r;
    orsk_decompress_stream* s = nullptr;
    if (orsk_decompress_stream_create(ORSK_LEVEL_FROM_CONTAINER, 0, &s) != ORSK_OK) std::abort();
    Bytes buffer;
    const auto room = [&] {
        buffer.resize(std::max<std::size_t>(pieces.Next(), 1024));
        return buffer.size();
    };
    const auto drain = [&](std::size_t made) {
        r.bytes.insert(r.bytes.end(), buffer.begin(), buffer.begin() + std::ptrdiff_t(made));
        if (r.status == ORSK_OK && r.bytes.size() > MaxRestored) r.status = ORSK_NO_ROOM;
    };
    for (std::size_t at = 0, piece = 0; at < n && r.status == ORSK_OK; at += piece) {
        piece = std::min(pieces.Next(), n - at);
        for (std::size_t fed = 0, used = 0; fed < piece && r.status == ORSK_OK; fed += used) {
            size_t made = 0;
            const std::size_t capacity = room();  // before buffer.data(): room() may move it
            r.status = orsk_decompress_stream_update(s, c + at + fed, piece - fed, &used, buffer.data(), capacity, &made);
            if (r.status == ORSK_OK && used == 0 && made == 0) std::abort();
            drain(made);
        }
    }
    for (int done = 0; r.status == ORSK_OK && !done;) {
        size_t made = 0;
        const std::size_t capacity = room();
        r.status = orsk_decompress_stream_finish(s, buffer.data(), capacity, &made, &done);
        drain(made);
    }
    orsk_decompress_stream_destroy(s);
    return r;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const int level = (data[0] & 7) % (ORSK_MAX_LEVEL + 1);
    const std::uint8_t* c = data + 2;
    const std::size_t n = size - 2;
    constexpr std::size_t Most[] = {1, 16, 255, 4096, 65536, 1048575, 1048577, 3 << 20};
    Pieces pieces{data[1] * 2654435761u, std::max<std::size_t>(1, n / 4096), 0};
    pieces.most = std::max(pieces.least, Most[(data[0] >> 3) & 7]);

    const Restore told = OneShot(ORSK_LEVEL_FROM_CONTAINER, c, n);
    if (TooLarge(told.status)) return 0;
    const Restore streamed = Streamed(c, n, pieces);
    if (!TooLarge(streamed.status) && (ClassOf(streamed.status) != ClassOf(told.status) ||
                                       (told.status == ORSK_OK && streamed.bytes != told.bytes))) {
        std::abort();
    }
    CheckSalvage(ORSK_LEVEL_FROM_CONTAINER, c, n, told);
    const Restore given = OneShot(level, c, n);
    if (!TooLarge(given.status)) CheckSalvage(level, c, n, given);
    // A container that restores whole at two levels to different bytes cannot have its
    // level told: the restore with the level left to it must not pick one.
    if (told.status == ORSK_OK && given.status == ORSK_OK && given.bytes != told.bytes) std::abort();
    orsk_info info;
    if (orsk_inspect(c, n, &info) == ORSK_OK && told.status == ORSK_OK && info.restored_size != told.bytes.size()) {
        std::abort();
    }
    return 0;
}
