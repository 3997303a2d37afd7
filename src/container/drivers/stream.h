// Containers written and read as data flows: input in pieces of any size, output
// drained into buffers of any size, memory bounded by one job's buffers and one scratch.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "base/bytes.h"
#include "base/format.h"
#include "container/blocks/workspace.h"
#include "container/format/block.h"
#include "container/format/checked.h"
#include "container/reader/container_reader.h"

namespace orsk {

// Cuts the input into the chunks CompressInto would make and writes the same container,
// plain or checked. A chunk is compressed once MaxChunkLength bytes are held, or at
// Finish. After a failure every call returns it again.
class StreamCompressor {
public:
    StreamCompressor(Level level, ContainerKind kind, unsigned effort = 0)
        : level_(level), checked_(kind == ContainerKind::Checked), effort_(effort) {}
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
    void QueueHead();
    bool Pending() const { return frontAt_ != frontEnd_ || blockAt_ != blockEnd_ || backAt_ != backEnd_; }

    Level level_;
    bool checked_;
    unsigned effort_;  // as for CompressChunk
    Status status_ = Status::Ok;
    BlockWorkspace ws_;
    std::size_t held_ = 0;  // chunk bytes in ws_.chunk()
    // What waits for the caller, in this order: the container's head (before the first
    // block), ws_.block()[blockAt_, blockEnd_), then the block's check or the end record.
    std::uint8_t front_[CheckedHeaderLength] = {};
    std::uint8_t back_[EndRecordLength] = {};
    std::size_t frontAt_ = 0, frontEnd_ = 0;
    std::size_t blockAt_ = 0, blockEnd_ = 0;
    std::size_t backAt_ = 0, backEnd_ = 0;
    ContentTally tally_;
    bool started_ = false;  // the head is (or was) due; an empty plain input makes no bytes
    bool ended_ = false;    // the end record of a checked container is (or was) due
    bool finishing_ = false;
};

// Reads a container in pieces through the container reader: a block is restored once all
// its bytes (and its check) have arrived, and fails with the status DecompressInto gives
// for the same container. After a failure every call returns it again.
class StreamDecompressor {
public:
    explicit StreamDecompressor(LevelRequest request) : request_(request) {}
    [[nodiscard]] Status Prepare();
    // Takes input and writes restored bytes; input waits while restored bytes do. With
    // room in `out`, every call consumes input or writes output.
    [[nodiscard]] Status Update(ByteCursor& in, ByteSink& out);
    // Ends the input (Truncated when it stopped inside a block, or a checked container
    // before its end record) and drains what is restored; `done` turns true once
    // everything has been written.
    [[nodiscard]] Status Finish(ByteSink& out, bool& done);
    bool finishing() const { return finishing_; }

private:
    void Drain(ByteSink& out);
    Status Pump(ByteCursor& in, ByteSink& out);
    bool Gather(std::size_t wanted, ByteCursor& in);
    void Consume(std::size_t length);
    Status Apply(const Verdict& v);

    LevelRequest request_;
    Status status_ = Status::Ok;
    BlockWorkspace ws_;
    std::optional<ContainerReader> reader_;
    // ws_.input()[0..held_): the bytes from the reader's position on. Bytes gathered past
    // an item (a window in which a plain container's level was told) are carried over
    // and taken before the caller's next ones.
    std::size_t held_ = 0;
    std::vector<std::uint8_t> carried_;
    ByteCursor carry_{};
    // Restored bytes waiting for the caller: data_[pending_, length_).
    const std::uint8_t* data_ = nullptr;
    std::size_t length_ = 0;
    std::size_t pending_ = 0;
    bool closed_ = false;  // the container ended and was found whole
    bool finishing_ = false;
};

}  // namespace orsk
