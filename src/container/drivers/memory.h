// Whole buffers into containers and back, in memory, block by block through the same
// calls the file drivers use.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "base/bytes.h"
#include "base/format.h"
#include "container/blocks/workspace.h"
#include "container/format/block.h"
#include "container/format/checked.h"
#include "container/reader/container_reader.h"

namespace orsk {

// Largest container a buffer of n bytes can become.
std::uint64_t ContainerBound(std::uint64_t n, ContainerKind kind = ContainerKind::Plain);

struct RunTotals {
    std::int64_t entropyMicros = 0;
    std::int64_t lzMicros = 0;
    std::uint64_t blocks = 0;
    std::uint64_t storedBlocks = 0;
};

// Appends the container of in[0..n) to `out`. An empty input gives an empty plain
// container, and a checked one of its header and end record alone.
// NoRoom when `out` is too small (ContainerBound(n, kind) always suffices). `effort` as
// for CompressChunk.
[[nodiscard]] Status CompressInto(Level level, const std::uint8_t* in, std::size_t n, ByteSink& out,
                                  BlockWorkspace& ws, RunTotals* totals = nullptr,
                                  ContainerKind kind = ContainerKind::Plain, unsigned effort = 0);

using DamageObserver = std::function<void(const DamagedRange&)>;

// Appends the restored bytes of a container to `out`, at the level asked for or, with
// LevelFromContainer, the one the container records or its blocks reveal. On failure
// `out` holds the blocks restored before the failing one.
// With `salvage`, a block that does not restore (its decoder or its check rejects it, or
// the input ends inside it) becomes zeros of the chunk length its header gives, so every
// restored byte keeps its offset; a block that cannot be framed ends the output. Each
// is reported to `salvage`, and the restore is Ok, unless no block restores at all: then
// it fails with the first damage's status. A plain container's first compressed block
// that restores at another level is not damage: the restore fails as without salvage.
[[nodiscard]] Status DecompressInto(LevelRequest level, const std::uint8_t* in, std::size_t n, ByteSink& out,
                                    BlockWorkspace& ws, RestoreFacts* facts = nullptr,
                                    const DamageObserver* salvage = nullptr);
// DecompressInto for the restored bytes inside `range` alone: the blocks that hold them
// are restored, the others framed and skipped (a checked container's skipped blocks are
// not checked, but their checks join the end record's). The whole container is still
// walked, so framing damage, a cut or a checked container's end record that does not
// match fails as in DecompressInto. OutOfRange when the range starts past the end.
[[nodiscard]] Status DecompressRange(LevelRequest level, const std::uint8_t* in, std::size_t n, const ByteRange& range,
                                     ByteSink& out, BlockWorkspace& ws, RestoreFacts* facts = nullptr);
// The number of bytes a container restores, from its block headers alone (and, for a
// plain container of unknown level, the first compressed block decoded).
[[nodiscard]] Status RestoredSize(LevelRequest level, const std::uint8_t* in, std::size_t n, std::uint64_t& size,
                                  BlockWorkspace& ws);

// What a container is, from its head and block headers (nothing is restored but a plain
// container's first compressed block, to tell its level).
struct ContainerFacts {
    RestoreFacts restore;           // kind and level
    std::uint64_t blocks = 0;
    std::uint64_t storedBlocks = 0;
    std::uint64_t restoredLength = 0;
};
// `level` frames a plain container's blocks; a checked container must record it.
[[nodiscard]] Status InspectContainer(const std::uint8_t* in, std::size_t n, BlockWorkspace& ws, ContainerFacts& facts,
                                      LevelRequest level = LevelFromContainer);

// The same into vectors sized to fit.
[[nodiscard]] Status CompressBuffer(Level level, const std::uint8_t* in, std::size_t n, std::vector<std::uint8_t>& out,
                                    BlockWorkspace& ws, RunTotals* totals = nullptr,
                                    ContainerKind kind = ContainerKind::Plain, unsigned effort = 0);
[[nodiscard]] Status DecompressBuffer(LevelRequest level, const std::uint8_t* in, std::size_t n,
                                      std::vector<std::uint8_t>& out, BlockWorkspace& ws,
                                      RestoreFacts* facts = nullptr, const DamageObserver* salvage = nullptr);

}  // namespace orsk
