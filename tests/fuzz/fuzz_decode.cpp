// Fuzz target: an arbitrary byte string restored as a container of one level
// (ORSK_FUZZ_LEVEL). It must fail cleanly, or restore exactly the length its block
// headers claim, into a buffer of exactly that length (an overrun reaches the end of
// the allocation) and alike through the growing vector path. A salvage restores the
// same where that succeeds, and lists its damaged ranges in order inside its output.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "container/drivers/memory.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using orsk::Status;
    static orsk::BlockWorkspace ws;  // reused across inputs, as a real run reuses it
    const auto level = orsk::Level(ORSK_FUZZ_LEVEL);
    std::vector<std::uint8_t> grown;
    const Status vectorStatus = orsk::DecompressBuffer(level, data, size, grown, ws);
    std::vector<std::uint8_t> salvaged;
    std::uint64_t next = 0, listed = 0;
    const orsk::DamageObserver note = [&](const orsk::DamagedRange& d) {
        if (d.offset < next || d.length > orsk::MaxChunkLength) std::abort();
        next = d.offset + d.length;
        ++listed;
    };
    const Status salvageStatus = orsk::DecompressBuffer(level, data, size, salvaged, ws, nullptr, &note);
    if (salvageStatus == Status::Ok && next > salvaged.size()) std::abort();
    if (vectorStatus == Status::Ok && (salvageStatus != Status::Ok || listed != 0 || salvaged != grown)) std::abort();
    std::uint64_t claimed = 0;
    if (orsk::RestoredSize(level, data, size, claimed, ws) != Status::Ok) {
        if (vectorStatus == Status::Ok) std::abort();  // restored what its headers cannot describe
        return 0;
    }
    if (vectorStatus == Status::Ok && grown.size() != claimed) std::abort();
    if (claimed > (std::uint64_t(64) << 20)) return 0;  // too large a claim to allocate for
    const std::unique_ptr<std::uint8_t[]> exact(new std::uint8_t[claimed]);
    orsk::ByteSink sink{exact.get(), exact.get(), exact.get() + claimed};
    const Status st = orsk::DecompressInto(level, data, size, sink, ws);
    if ((st == Status::Ok) != (vectorStatus == Status::Ok)) std::abort();
    if (st == Status::Ok && (orsk::Written(sink) != claimed ||
                             (claimed != 0 && std::memcmp(exact.get(), grown.data(), claimed) != 0))) {
        std::abort();
    }
    return 0;
}
