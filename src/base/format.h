// Constants of the container and its buffers, the status codes every fallible
// operation returns, and the level numbering shared by all subsystems.
#pragma once

#include <cstddef>
#include <cstdint>

namespace orsk {

enum class Status : std::uint8_t {
    Ok,
    Truncated,    // input ended inside a block or stream
    Corrupt,      // input breaks a rule of the format
    NoRoom,       // an output area is too small (a compressor then stores the chunk)
    ReadFailed,
    WriteFailed,
    OutOfMemory,
    ChecksumMismatch,  // a checked container's block or content checksum differs
    WrongLevel,        // a checked container records another level than the one asked for
    UnknownLevel,      // a plain container's level cannot be told from its blocks
    OutOfRange,        // a range of the restored bytes starts past their end
};

const char* StatusText(Status s);

enum class Level : std::uint8_t { Hyperfast = 0, Superfast, Fast, Normal, Better, Best };
constexpr int LevelCount = 6;
// How hard a compressor searches: 0 is each level's own parse, 1 to MaxEffort write the
// same format with parses that search more (and take longer) as the effort grows.
constexpr unsigned MaxEffort = 9;

constexpr std::uint8_t ContainerMagic = 83;  // 'S'
constexpr std::uint8_t StoredBlockKind = 15;
constexpr std::uint8_t CompressedBlockKind = 66;  // 'B'

constexpr std::size_t MaxChunkLength = 1048576;
// Compressors compare 16-byte groups that may run up to 15 bytes past the chunk.
constexpr std::size_t InputSlack = 1024;
// Every block is assembled and restored here; a writer never makes a longer block.
constexpr std::size_t OutputBlockBufferSize = 1153440;
constexpr std::size_t StoredHeaderLength = 9;      // kind + two u32 lengths
constexpr std::size_t CompressedHeaderLength = 17;  // kind + four u32 fields
// Room enough for any block a reader accepts: the longest is a compressed block of
// OutputBlockBufferSize bytes (a stored one holds at most MaxChunkLength).
constexpr std::size_t MaxBlockLength = StoredHeaderLength + OutputBlockBufferSize;

// Decoders may read this far past the end of any stream and write this far past the
// chunk's end: literal runs and matches move in 16-byte steps (15 bytes over at most,
// rounded up to two steps for the overlap-safe pattern copies).
constexpr std::size_t StreamReadSlack = 64;
constexpr std::size_t CopySlack = 64;

// Every stream of a block fits one chunk; a coded section claiming more is corrupt.
constexpr std::size_t MaxStreamLength = MaxChunkLength;

}  // namespace orsk
