// Whole buffers into containers and back, in memory, block by block through the same
// calls the file drivers use.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "container/block.h"
#include "container/format.h"
#include "container/workspace.h"

namespace orsk {

// Largest container a buffer of n bytes can become.
std::uint64_t ContainerBound(std::uint64_t n);

struct RunTotals {
    std::int64_t entropyMicros = 0;
    std::int64_t lzMicros = 0;
    std::uint64_t blocks = 0;
    std::uint64_t storedBlocks = 0;
};

// An empty input gives an empty container.
[[nodiscard]] Status CompressBuffer(Level level, const std::uint8_t* in, std::size_t n, std::vector<std::uint8_t>& out,
                                    BlockWorkspace& ws, RunTotals* totals = nullptr);
// An empty container gives an empty output. On failure `out` holds the blocks restored
// before the failing one and `failedBlock` its index.
[[nodiscard]] Status DecompressBuffer(Level level, const std::uint8_t* in, std::size_t n,
                                      std::vector<std::uint8_t>& out, BlockWorkspace& ws,
                                      std::uint64_t* failedBlock = nullptr);

}  // namespace orsk
