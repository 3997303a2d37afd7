// Fuzz target: an arbitrary byte string restored as a container of one level
// (ORSK_FUZZ_LEVEL). It must fail cleanly or restore, never crash or overrun.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "container/drivers/memory.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static orsk::BlockWorkspace ws;  // reused across inputs, as a real run reuses it
    std::vector<std::uint8_t> out;
    (void)orsk::DecompressBuffer(orsk::Level(ORSK_FUZZ_LEVEL), data, size, out, ws);
    return 0;
}
