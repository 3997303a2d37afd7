// Fuzz target: an arbitrary coded section body for the stream decoder. The first
// three bytes give the decoded length; the rest is the body after N and S.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "entropy/stream_coder.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3) return 0;
    const std::size_t n = 1 + ((std::size_t(data[0]) | std::size_t(data[1]) << 8 | std::size_t(data[2]) << 16) % 200000);
    // Reused across inputs, as a workspace reuses them.
    static const orsk::StreamDecodeTablesPtr tables = orsk::NewStreamDecodeTables();
    std::vector<std::uint8_t> out(n + orsk::SectionSlack);
    (void)orsk::DecodeStream(data + 3, size - 3, out.data(), n, *tables);
    return 0;
}
