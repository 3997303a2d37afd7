// The program's file drivers: reads and writes around the library's chunk calls and its
// container reader, with the chunks or blocks of a run spread over a few worker threads
// and written in order. "-" names standard input or output.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "base/format.h"
#include "container/format/block.h"
#include "container/drivers/memory.h"

namespace orsk {

struct CompressEvent {
    std::uint64_t index = 0;      // block number, from 0
    std::uint64_t done = 0;       // input bytes processed so far
    std::uint64_t inputSize = 0;  // 0 when unknown (a pipe)
    std::size_t chunkLength = 0;
    ChunkOutcome outcome;
};

struct DecompressEvent {
    std::uint64_t index = 0;
    RestoredBlock block;
};

struct FileRunResult {
    Status status = Status::Ok;
    std::string message;  // one line: what failed, with file and block (salvage: what ended it)
    std::uint64_t bytesIn = 0;
    std::uint64_t bytesOut = 0;
    RunTotals totals;     // stage times summed over chunks
    bool blockFailed = false;  // a block was framed but did not restore
    RestoreFacts restore;      // restoring: the container's kind and the level used
    std::vector<DamagedRange> damaged;  // salvage: the blocks not restored, in output order
};

using CompressObserver = std::function<void(const CompressEvent&)>;
using DecompressObserver = std::function<void(const DecompressEvent&)>;

struct RunOptions {
    // Worker threads; 1 runs everything on the calling thread. More than four per core
    // (or 256) only cost memory: the drivers use at most that many.
    std::size_t threads = 1;
    std::int64_t failWritesAfter = -1;  // test seam: the output fails past this many bytes
    ContainerKind container = ContainerKind::Plain;  // what a compression run writes
    unsigned effort = 0;   // compressing: 0 the level's own parse, 1..MaxEffort a harder one
    bool salvage = false;  // restoring: damaged blocks become zeros and are listed (DecompressFile)
    // Restoring: only the bytes [rangeFrom, rangeTo) are written. The blocks outside are
    // skipped unrestored, by moving past them in a file, by reading through them from a pipe.
    std::uint64_t rangeFrom = 0;
    std::uint64_t rangeTo = UINT64_MAX;
    // Compressing: each block is restored right after it is made and compared with its
    // chunk; a block that differs fails the run before it is written.
    bool verify = false;
    std::int64_t failVerifyAt = -1;  // test seam: the comparison of this block fails
};

// Default worker count: every core.
std::size_t DefaultThreads();

// The output file appears (or is replaced) only when the whole run succeeded, with the
// input's permission bits and times when the input is a named file. The container is
// byte-identical whatever the thread count.
FileRunResult CompressFile(Level level, const std::string& input, const std::string& output, const RunOptions& options,
                           const CompressObserver& onBlock);
// Restores at the level asked for or, with LevelFromContainer, at the one a checked
// container records or a plain one's first compressed block tells: the level that
// restores it, when every level that does gives the same bytes (UnknownLevel, naming
// them, otherwise); stored blocks alone restore at any. A checked container's blocks and
// end record are checked as they are read; the output appears only when all match. A
// failure is reported at the first block in order that fails, with the blocks before it
// delivered, whatever the thread count. When a plain container's first compressed block
// does not restore at `level`, the message names the levels at which it does.
// With options.salvage, damage ends nothing but the blocks it touches, as DecompressInto
// tells: the output is written with zeros for every block that does not restore (in
// `damaged`, the same whatever the thread count), and fails only when no block restores.
FileRunResult DecompressFile(LevelRequest level, const std::string& input, const std::string& output,
                             const RunOptions& options, const DecompressObserver& onBlock);
// What a container file is: its kind, level, blocks and sizes, from its block headers
// (a plain container's first compressed block is decoded to tell its level).
FileRunResult InspectFile(const std::string& input, ContainerFacts& facts);

}  // namespace orsk
