// Fuzz target: the first byte picks a level (its value modulo 6, bit 7 and bit 6
// aside) and an effort (the same value over 6, 9 at most; inputs over 256 KiB take none,
// so that no run nears the time limit), whether the rest is spun out past 1 MiB +
// InputSlack (bit 7), so that chunks compressed where the caller holds them are fuzzed
// too, and whether the container is checked (bit 6). The rest is compressed and restored; the restored bytes must equal it
// exactly, also when restored into a buffer of exactly their length, and the container
// must equal the one written through the workspace. Restored with the level left to the
// container, it gives the input exactly or, plain, fails with UnknownLevel: never other
// bytes.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "container/drivers/memory.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using orsk::Status;
    if (size == 0) return 0;
    static orsk::BlockWorkspace ws;
    const auto level = orsk::Level((data[0] & 0x3F) % orsk::LevelCount);
    unsigned effort = std::min((data[0] & 0x3Fu) / orsk::LevelCount, 9u);
    const auto kind = (data[0] & 0x40) != 0 ? orsk::ContainerKind::Checked : orsk::ContainerKind::Plain;
    const std::uint8_t* in = data + 1;
    std::size_t n = size - 1;
    std::vector<std::uint8_t> spun;
    if ((data[0] & 0x80) != 0 && n != 0) {
        // Copies of the input, each XORed with its index, to a length the input picks.
        spun.resize(orsk::MaxChunkLength + orsk::InputSlack + (size * 7919) % 65536);
        for (std::size_t i = 0; i < spun.size(); ++i) spun[i] = std::uint8_t(in[i % n] ^ (i / n));
        in = spun.data();
        n = spun.size();
    }
    if (n > 262144) effort = 0;
    std::vector<std::uint8_t> packed, restored;
    if (orsk::CompressBuffer(level, in, n, packed, ws, nullptr, kind, effort) != Status::Ok) std::abort();
    if (packed.size() > orsk::ContainerBound(n, kind)) std::abort();
    if (orsk::DecompressBuffer(level, packed.data(), packed.size(), restored, ws) != Status::Ok) std::abort();
    if (restored.size() != n || (n != 0 && std::memcmp(restored.data(), in, n) != 0)) std::abort();

    const std::unique_ptr<std::uint8_t[]> exact(new std::uint8_t[n]);
    orsk::ByteSink sink{exact.get(), exact.get(), exact.get() + n};
    if (orsk::DecompressInto(level, packed.data(), packed.size(), sink, ws) != Status::Ok) std::abort();
    if (orsk::Written(sink) != n || (n != 0 && std::memcmp(exact.get(), in, n) != 0)) std::abort();
    if (n > orsk::MaxChunkLength) {
        // A sink of exactly the container's length is too tight for BlockBound, so every
        // chunk goes through the workspace: the blocks must not change.
        std::vector<std::uint8_t> tight(packed.size());
        orsk::ByteSink out{tight.data(), tight.data(), tight.data() + tight.size()};
        if (orsk::CompressInto(level, in, n, out, ws, nullptr, kind, effort) != Status::Ok || tight != packed) {
            std::abort();
        }
    }

    // The level left to the container: a checked one records it; a plain one's blocks
    // tell it, or the restore fails.
    if (n != 0) std::memset(exact.get(), ~in[0], n);
    orsk::ByteSink told{exact.get(), exact.get(), exact.get() + n};
    const Status st = orsk::DecompressInto(orsk::LevelFromContainer, packed.data(), packed.size(), told, ws);
    if (st == Status::UnknownLevel && kind == orsk::ContainerKind::Plain) return 0;
    if (st != Status::Ok) std::abort();
    if (orsk::Written(told) != n || (n != 0 && std::memcmp(exact.get(), in, n) != 0)) std::abort();
    return 0;
}
