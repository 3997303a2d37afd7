// Fuzz target: an arbitrary coded section body for the stream decoder. The first three
// bytes give the decoded length; the rest is the body after N and S. Each output has
// exactly the promised slack, and two copies decoded side by side must give the status
// and bytes of a lone decode.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "entropy/stream_coder.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3) return 0;
    const std::size_t n = 1 + ((std::size_t(data[0]) | std::size_t(data[1]) << 8 | std::size_t(data[2]) << 16) % 200000);
    // Reused across inputs, as a workspace reuses them.
    static const orsk::StreamDecodeTablesPtr tables = orsk::NewStreamDecodeTables();
    std::vector<std::uint8_t> lone(n + orsk::SectionSlack), a(lone.size()), b(lone.size());
    const orsk::Status st = orsk::DecodeStream(data + 3, size - 3, lone.data(), n, *tables);
    const orsk::StreamJob jobs[2] = {{data + 3, size - 3, a.data(), n}, {data + 3, size - 3, b.data(), n}};
    orsk::Status side[2];
    orsk::DecodeStreams(jobs, 2, side, *tables);
    for (int i = 0; i < 2; ++i) {
        if (side[i] != st) std::abort();
        if (st == orsk::Status::Ok && std::memcmp((i == 0 ? a : b).data(), lone.data(), n) != 0) std::abort();
    }
    return 0;
}
