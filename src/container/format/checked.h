// The checked container: a header that records the level, a check behind every block
// and an end record, around blocks written exactly as in a plain one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "base/format.h"

namespace orsk {

enum class ContainerKind : std::uint8_t { Plain, Checked };

// A restore asks for one level, or for the one the container records (a checked
// container) or its blocks reveal (a plain one).
using LevelRequest = std::optional<Level>;
constexpr LevelRequest LevelFromContainer = std::nullopt;

constexpr std::uint8_t CheckedMagic = 67;        // 'C'; a plain reader stops at it
constexpr std::uint8_t CheckedVersion = 1;
constexpr std::size_t CheckedHeaderLength = 8;   // magic, version, level, flags, u32 header check
constexpr std::size_t BlockCheckLength = 8;      // u64 BlockCheck, behind its block
constexpr std::uint8_t EndRecordKind = 69;       // 'E', where the next block's kind would be
constexpr std::size_t EndRecordLength = 25;      // kind, u64 blocks, u64 restored length, u64 content check

// XXH3-64 (seed 0) of a chunk's restored bytes.
std::uint64_t ChunkChecksum(const std::uint8_t* chunk, std::size_t n);
// The check behind a block: XXH3-64 of the block's bytes, seeded with its chunk's
// checksum. It covers the chunk (a block that restores other bytes fails) and the block
// itself (so does damage that happens to restore the same bytes).
std::uint64_t BlockCheck(const std::uint8_t* block, std::size_t total, std::uint64_t chunkChecksum);

// What the first bytes of a container say.
struct ContainerHead {
    ContainerKind kind = ContainerKind::Plain;
    Level level = Level::Hyperfast;  // recorded (checked containers only)
    std::size_t length = 1;          // bytes in front of the first block
};

// Writes the CheckedHeaderLength bytes of a checked container's header.
void WriteCheckedHeader(std::uint8_t* out, Level level);
// Reads the head of in[0..n), n >= 1: Corrupt for a first byte that starts no container
// and for a damaged or unknown checked header, Truncated when the header is cut short.
// `why` (when given) receives the reason of a failure in words.
[[nodiscard]] Status ReadContainerHead(const std::uint8_t* in, std::size_t n, ContainerHead& head,
                                       std::string* why = nullptr);

// The level to restore a container at, when its head alone can tell: the recorded one of
// a checked container (WrongLevel when another was asked for), or the one asked for.
// Ok with no level for a plain container restored at the level its blocks reveal.
[[nodiscard]] Status LevelOfHead(const ContainerHead& head, LevelRequest request, LevelRequest& level);

// The blocks of a checked container as its end record counts them: the content checksum
// chains the block checks in block order, so it is the same whatever the thread count.
struct ContentTally {
    std::uint64_t blocks = 0;
    std::uint64_t length = 0;    // restored bytes
    std::uint64_t checksum = 0;  // c = XXH3-64(the block check as 8 LE bytes, seed c), from 0

    void Add(std::uint64_t blockCheck, std::size_t n);
};

void WriteEndRecord(std::uint8_t* out, const ContentTally& tally);
// Compares an end record with the tally of the blocks read before it: Corrupt when the
// count or the length differs, ChecksumMismatch when only the content checksum does.
// `countsOnly` compares the count and the length alone (a walk that decodes nothing).
[[nodiscard]] Status CheckEndRecord(const std::uint8_t* record, const ContentTally& tally, bool countsOnly,
                                    std::string* why = nullptr);

}  // namespace orsk
