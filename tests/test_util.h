// Shared helpers for the unit tests: deterministic sample data and file access.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "base/format.h"
#include "container/blocks/workspace.h"

namespace orsk::test {

using Bytes = std::vector<std::uint8_t>;

// Deterministic generators (same bytes on every platform for a given seed).
Bytes RandomBytes(std::size_t n, std::uint32_t seed);
Bytes TextLike(std::size_t n, std::uint32_t seed);       // English-like words and punctuation
Bytes BinaryLike(std::size_t n, std::uint32_t seed);     // structured records, small integers
Bytes Runs(std::size_t n, std::uint32_t seed);           // long runs of repeated bytes
Bytes Repeat(const std::string& pattern, std::size_t n);
Bytes ReadFileBytes(const std::string& path);            // empty when unreadable
void WriteFileBytes(const std::string& path, const Bytes& data);
std::string DataPath(const std::string& name);           // tests/data/<name>
std::string TempPath(const std::string& name);           // a fresh path under the temp dir

// A compressed block taken apart: the header fields in the level's order, the kind of
// each section and each unpacked stream (six sections, seven at BEST).
struct BlockView {
    std::uint32_t sequenceCount = 0;
    std::uint32_t chunkLength = 0;
    std::uint32_t lowLength = 0;
    std::uint32_t blockLength = 0;
    Bytes low;
    std::array<std::uint8_t, 7> kinds{};
    std::array<Bytes, 7> streams;
};
// Fails the current test (and returns what it could read) when the block is malformed.
BlockView ViewBlock(Level level, const Bytes& block);

// One workspace per test binary, prepared for both directions; its stream decoder tables.
BlockWorkspace& Workspace();
StreamDecodeTables& DecodeTables();
// The block compressor of level 2 to 5 alone (no store decision, no call filter); the
// InputSlack bytes behind the chunk are set to `slack`, which must not change the block.
Bytes CompressBlock(Level level, const Bytes& chunk, std::uint8_t slack = 0);
// Restores one block from a copy that ends StreamReadSlack bytes after it, so reads
// beyond the promised slack reach ASan's redzone.
Status RestoreAt(Level level, const Bytes& block, Bytes& out);

// Whole-buffer round trip through the library's memory path.
Bytes Compress(Level level, const Bytes& input);
Status Decompress(Level level, const Bytes& container, Bytes& output);

}  // namespace orsk::test
