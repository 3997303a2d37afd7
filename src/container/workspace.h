// Working memory of one worker: allocated once, reused for every chunk or block it
// handles. Nothing in it carries meaning from one block to the next.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "container/format.h"
#include "container/sections.h"

namespace orsk {

// Compressor stream buffers: one chunk's worth of bytes, plus one (literal-only
// sequences may count one more code byte than that in degenerate cases) and room for
// 16-byte appends.
constexpr std::size_t StreamBufferSize = MaxChunkLength + 1 + 64;
constexpr int EncoderStreamCount = 6;
constexpr std::size_t HashTableEntries = std::size_t(1) << 18;

// What a block compressor may use besides its chunk and the block it writes.
struct EncoderScratch {
    std::uint8_t* stream[EncoderStreamCount] = {};  // each StreamBufferSize bytes
    std::uint32_t* hashHead = nullptr;   // HashTableEntries entries; levels 0 and 1 use it as
                                         // their single-slot table
    std::uint32_t* hashChain = nullptr;  // HashTableEntries entries
};

class BlockWorkspace {
public:
    // Allocate on first use; OutOfMemory when the system refuses.
    [[nodiscard]] Status PrepareCompress();
    [[nodiscard]] Status PrepareDecompress();

    // Compression: the chunk (MaxChunkLength + InputSlack, slack zeroed) and the block.
    std::uint8_t* chunk() { return chunk_.get(); }
    std::uint8_t* block() { return block_.get(); }
    EncoderScratch& scratch() { return scratch_; }

    // Decompression: a whole block as read (MaxBlockLength + StreamReadSlack), the
    // restored bytes (OutputBlockBufferSize, at least MaxChunkLength + CopySlack) and
    // the decoded streams.
    std::uint8_t* input() { return input_.get(); }
    std::uint8_t* restored() { return block_.get(); }
    DecodeBuffers& decodeBuffers() { return decode_; }

private:
    std::unique_ptr<std::uint8_t[]> chunk_;
    std::unique_ptr<std::uint8_t[]> block_;
    std::unique_ptr<std::uint8_t[]> input_;
    std::unique_ptr<std::uint8_t[]> streamMemory_;
    std::unique_ptr<std::uint32_t[]> tableMemory_;
    std::unique_ptr<std::uint8_t[]> decodeMemory_;
    EncoderScratch scratch_;
    DecodeBuffers decode_;
};

static_assert(OutputBlockBufferSize >= MaxChunkLength + CopySlack);

}  // namespace orsk
