// Containers written and read as data flows: input in pieces of any size, output
// drained into buffers of any size, memory bounded by one job's buffers and one scratch.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/bytes.h"
#include "base/format.h"
#include "container/blocks/workspace.h"
#include "container/drivers/block.h"

namespace orsk {

// Cuts the input into the chunks CompressInto would make and writes the same container.
// A chunk is compressed once MaxChunkLength bytes are held, or at Finish. After a
// failure every call returns it again.
class StreamCompressor {
public:
    explicit StreamCompressor(Level level) : level_(level) {}
    // Allocates the working memory (OutOfMemory when it cannot).
    [[nodiscard]] Status Prepare();
    // Takes what it can hold of `in` and writes what output it has into `out`. With room
    // in `out`, every call consumes input or writes output. After Finish it takes none.
    [[nodiscard]] Status Update(ByteCursor& in, ByteSink& out);
    // Ends the input: compresses what is held and drains it. `done` turns true once the
    // whole container has been written; call again with more room until then.
    [[nodiscard]] Status Finish(ByteSink& out, bool& done);
    // Finish was called: Update takes no more input.
    bool finishing() const { return finishing_; }

private:
    void Drain(ByteSink& out);
    Status CompressHeld();
    bool Pending() const { return magicPending_ || blockAt_ != blockEnd_; }

    Level level_;
    Status status_ = Status::Ok;
    BlockWorkspace ws_;
    std::size_t held_ = 0;         // chunk bytes in ws_.chunk()
    std::size_t blockAt_ = 0;      // ws_.block()[blockAt_, blockEnd_) waits for the caller
    std::size_t blockEnd_ = 0;
    bool started_ = false;         // a block was made: the magic byte is (or was) due
    bool magicPending_ = false;
    bool finishing_ = false;
};

// Reads a container in pieces: a block is restored once all its bytes have arrived, and
// fails with the status DecompressInto gives for the same container. After a failure
// every call returns it again.
class StreamDecompressor {
public:
    explicit StreamDecompressor(Level level) : level_(level) {}
    [[nodiscard]] Status Prepare();
    // Takes input and writes restored bytes; input waits while restored bytes do. With
    // room in `out`, every call consumes input or writes output.
    [[nodiscard]] Status Update(ByteCursor& in, ByteSink& out);
    // Ends the input (Truncated when it stopped inside a block) and drains what is
    // restored; `done` turns true once everything has been written.
    [[nodiscard]] Status Finish(ByteSink& out, bool& done);
    bool finishing() const { return finishing_; }

private:
    void Drain(ByteSink& out);
    Status TakeBlockBytes(ByteCursor& in);

    Level level_;
    Status status_ = Status::Ok;
    BlockWorkspace ws_;
    bool magicSeen_ = false;
    std::size_t held_ = 0;       // bytes of the current block in ws_.input()
    RestoredBlock restored_;     // restored_.data[0..restored_.length) waits from `pending_` on
    std::size_t pending_ = 0;
    bool finishing_ = false;
};

}  // namespace orsk
