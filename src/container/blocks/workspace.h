// Working memory, allocated once and reused for every chunk or block: the buffers that
// travel with one job (a chunk and its block) and the scratch a worker keeps (stream
// buffers, match tables, decoded streams). Nothing in them carries meaning from one
// block to the next.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "base/format.h"
#include "container/blocks/sections.h"

namespace orsk {

// Compressor stream buffers: one chunk's worth of bytes, plus one (literal-only
// sequences may count one more code byte than that in degenerate cases) and room for
// 16-byte appends. Buffers for chunks of at most `longest` bytes need only as much.
constexpr std::size_t StreamBufferFor(std::size_t longest) { return longest + 1 + 64; }
constexpr std::size_t StreamBufferSize = StreamBufferFor(MaxChunkLength);
constexpr int EncoderStreamCount = 6;
constexpr std::size_t HashTableEntries = std::size_t(1) << 18;

// What a block compressor may use besides its chunk and the block it writes.
struct EncoderScratch {
    std::uint8_t* stream[EncoderStreamCount] = {};  // each StreamBufferSize bytes, or
                                                    // StreamBufferFor the longest chunk given
    std::uint32_t* hashHead = nullptr;   // HashTableEntries entries; levels 0 and 1 use it as
                                         // their single-slot table
    std::uint32_t* hashChain = nullptr;  // HashTableEntries entries
    std::uint8_t* parse = nullptr;       // ParseMemorySize bytes for the efforts' parses; null until
                                         // the first chunk compressed at an effort
};

// What the efforts' parses keep per block: 31 bytes per position (a chain link, and
// per parse node its price, literal run, step length and distance, the length and gap
// of a match before a repeat of its distance, and six recent distances of 16 bits),
// plus 64 bytes of alignment room.
constexpr std::size_t ParseBytesPerPosition = 31;
constexpr std::size_t ParseMemorySize = (MaxChunkLength + 1) * ParseBytesPerPosition + 64;

// The two buffers of one job. Compressing: the chunk (MaxChunkLength + InputSlack, the
// slack defined) and its block. Restoring: the block as read (MaxBlockLength +
// StreamReadSlack) and the restored bytes (at least MaxChunkLength + CopySlack).
class JobBuffers {
public:
    [[nodiscard]] Status Prepare();
    // Room for chunks or blocks of at most `longest` bytes and their slack, none of it
    // cleared: whoever copies bytes in clears the slack behind them (a fresh allocation
    // is then touched only as far as it is used).
    [[nodiscard]] Status PrepareFor(std::size_t longest);
    std::uint8_t* chunk() { return in_.get(); }
    std::uint8_t* block() { return out_.get(); }
    std::uint8_t* input() { return in_.get(); }
    std::uint8_t* restored() { return out_.get(); }

private:
    std::unique_ptr<std::uint8_t[]> in_;
    std::unique_ptr<std::uint8_t[]> out_;
    std::size_t inSize_ = 0;
    bool cleared_ = false;  // in_ was cleared whole once
};

// A worker's scratch, for compressing or restoring (allocated on first use of each).
class CodecScratch {
public:
    // For chunks of at most `longest` bytes.
    [[nodiscard]] Status PrepareCompress(std::size_t longest = MaxChunkLength);
    [[nodiscard]] Status PrepareDecompress();
    // The efforts' parse memory and the spare, on top of PrepareCompress (allocated on
    // first use).
    [[nodiscard]] Status PrepareEffort();
    EncoderScratch& encoder() { return encoder_; }
    DecodeBuffers& decodeBuffers() { return decode_; }
    // A second block's worth of restored bytes (OutputBlockBufferSize), for comparing
    // what two levels restore; null when it cannot be had.
    std::uint8_t* Spare();

private:
    std::unique_ptr<std::uint8_t[]> spare_;
    std::unique_ptr<std::uint8_t[]> streamMemory_;
    std::size_t streamLongest_ = 0;  // the chunk length the stream buffers hold
    std::unique_ptr<std::uint32_t[]> tableMemory_;
    std::unique_ptr<std::uint8_t[]> parseMemory_;
    std::unique_ptr<std::uint8_t[]> decodeMemory_;
    StreamDecodeTablesPtr streamTables_;
    EncoderScratch encoder_;
    DecodeBuffers decode_;
};

// Everything one thread needs to compress or restore on its own. Prepared whole for the
// file and stream drivers; the memory calls prepare it for their input, `longest` bytes
// of chunk (compressing) or of container (restoring), and clear the slack themselves.
class BlockWorkspace {
public:
    [[nodiscard]] Status PrepareCompress();
    [[nodiscard]] Status PrepareDecompress();
    [[nodiscard]] Status PrepareCompressFor(std::size_t longest);
    [[nodiscard]] Status PrepareDecompressFor(std::size_t longest);
    std::uint8_t* chunk() { return job.chunk(); }
    std::uint8_t* block() { return job.block(); }
    std::uint8_t* input() { return job.input(); }
    std::uint8_t* restored() { return job.restored(); }
    EncoderScratch& scratch() { return codec.encoder(); }
    DecodeBuffers& decodeBuffers() { return codec.decodeBuffers(); }

    JobBuffers job;
    CodecScratch codec;
};

static_assert(OutputBlockBufferSize >= MaxChunkLength + CopySlack);
static_assert(MaxBlockLength + StreamReadSlack >= MaxChunkLength + InputSlack);

}  // namespace orsk
