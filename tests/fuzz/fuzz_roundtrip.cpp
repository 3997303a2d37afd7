// Fuzz target: the first byte picks a level, the rest is compressed and restored; the
// restored bytes must equal the input exactly.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "container/drivers/memory.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    static orsk::BlockWorkspace ws;
    const auto level = orsk::Level(data[0] % orsk::LevelCount);
    std::vector<std::uint8_t> packed, restored;
    if (orsk::CompressBuffer(level, data + 1, size - 1, packed, ws) != orsk::Status::Ok) std::abort();
    if (packed.size() > orsk::ContainerBound(size - 1)) std::abort();
    if (orsk::DecompressBuffer(level, packed.data(), packed.size(), restored, ws) != orsk::Status::Ok) std::abort();
    if (restored.size() != size - 1 || (size > 1 && std::memcmp(restored.data(), data + 1, size - 1) != 0)) std::abort();
    return 0;
}
