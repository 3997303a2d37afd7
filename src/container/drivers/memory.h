// Whole buffers into containers and back, in memory, block by block through the same
// calls the file drivers use.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "base/bytes.h"
#include "base/format.h"
#include "container/blocks/workspace.h"
#include "container/drivers/block.h"

namespace orsk {

// Largest container a buffer of n bytes can become.
std::uint64_t ContainerBound(std::uint64_t n);

struct RunTotals {
    std::int64_t entropyMicros = 0;
    std::int64_t lzMicros = 0;
    std::uint64_t blocks = 0;
    std::uint64_t storedBlocks = 0;
};

// Appends the container of in[0..n) to `out`; an empty input gives an empty container.
// NoRoom when `out` is too small (ContainerBound(n) always suffices).
[[nodiscard]] Status CompressInto(Level level, const std::uint8_t* in, std::size_t n, ByteSink& out,
                                  BlockWorkspace& ws, RunTotals* totals = nullptr);
// Appends the restored bytes of a container to `out`. On failure `out` holds the blocks
// restored before the failing one and `failedBlock` its index.
[[nodiscard]] Status DecompressInto(Level level, const std::uint8_t* in, std::size_t n, ByteSink& out,
                                    BlockWorkspace& ws, std::uint64_t* failedBlock = nullptr);
// The number of bytes a container restores, from its block headers alone.
[[nodiscard]] Status RestoredSize(Level level, const std::uint8_t* in, std::size_t n, std::uint64_t& size);

// The same into vectors sized to fit.
[[nodiscard]] Status CompressBuffer(Level level, const std::uint8_t* in, std::size_t n, std::vector<std::uint8_t>& out,
                                    BlockWorkspace& ws, RunTotals* totals = nullptr);
[[nodiscard]] Status DecompressBuffer(Level level, const std::uint8_t* in, std::size_t n,
                                      std::vector<std::uint8_t>& out, BlockWorkspace& ws,
                                      std::uint64_t* failedBlock = nullptr);

}  // namespace orsk
