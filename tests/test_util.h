// Shared helpers for the unit tests: deterministic sample data, file access, and a
// compressed block taken apart, rebuilt and restored inside exactly its promised slack.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "base/format.h"
#include "container/format/checked.h"
#include "container/blocks/workspace.h"
#include "sample_data.h"

namespace orsk::test {

// Deterministic generators (same bytes on every platform for a given seed).
enum class Kind { Text, Binary, Random, Runs, Records };
constexpr Kind kKinds[] = {Kind::Text, Kind::Binary, Kind::Random, Kind::Runs, Kind::Records};
const char* KindName(Kind kind);
Bytes Sample(Kind kind, std::size_t n, std::uint32_t seed);
Bytes RandomBytes(std::size_t n, std::uint32_t seed);
Bytes TextLike(std::size_t n, std::uint32_t seed);    // English-like words and punctuation
Bytes BinaryLike(std::size_t n, std::uint32_t seed);  // executable-like: a signature, call records, a random resource
Bytes Runs(std::size_t n, std::uint32_t seed);        // long runs of repeated bytes
Bytes RecordsLike(std::size_t n, std::uint32_t seed); // JSON-like records: many matches of 15 to 40 bytes,
                                                      // some far longer, random keys
Bytes Repeat(const std::string& pattern, std::size_t n);
Bytes Concat(std::initializer_list<Bytes> parts);

Bytes ReadFileBytes(const std::string& path);  // empty when unreadable
void WriteFileBytes(const std::string& path, const Bytes& data);
std::string DataPath(const std::string& name);  // tests/data/<name>
std::string TempPath(const std::string& name);  // a fresh path under the temp dir

// Whole-buffer round trip through the library's memory path. A compress has a fresh
// workspace; a restore reads a copy exactly as long as the container (so over-reads show)
// with the shared workspace.
Bytes Compress(Level level, const Bytes& input, ContainerKind kind = ContainerKind::Plain);
Status Decompress(LevelRequest level, const Bytes& container, Bytes& output);

// A compressed block taken apart: header fields, the distance low bytes, the kind of
// each section and each unpacked stream (six sections, seven at BEST).
struct BlockView {
    std::uint32_t sequenceCount = 0;
    std::uint32_t chunkLength = 0;
    Bytes low;
    std::array<std::uint8_t, 7> kinds{};
    std::array<Bytes, 7> streams;
};
int SectionCount(Level level);
BlockView ViewBlock(Level level, const Bytes& block);  // fails the test when malformed
Bytes BuildBlock(Level level, const BlockView& view);  // raw or empty sections, the level's header order

// One workspace per test binary, prepared for both directions; its stream decoder tables.
BlockWorkspace& Workspace();
StreamDecodeTables& DecodeTables();
// The level's block compressor alone (no store decision, no call filter) into a sink of
// `room` bytes; the InputSlack bytes behind the chunk are set to `slack`.
Status CompressBlock(Level level, const Bytes& chunk, Bytes& block, std::size_t room = OutputBlockBufferSize,
                     std::uint8_t slack = 0);
Bytes CompressBlock(Level level, const Bytes& chunk, std::uint8_t slack = 0);
// Restores one block through the block driver from a copy followed by exactly
// StreamReadSlack bytes, into the chunk length it claims plus CopySlack, and checks the
// canary bytes behind that.
Status RestoreAt(Level level, const Bytes& block, Bytes& out);

}  // namespace orsk::test
