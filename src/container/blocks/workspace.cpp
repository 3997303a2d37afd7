// Allocation of job buffers and worker scratch, once, on first use.
#include "container/blocks/workspace.h"

#include <cstring>
#include <new>

#include "entropy/stream_coder.h"

namespace orsk {

namespace {

template <typename T>
bool Allocate(std::unique_ptr<T[]>& p, std::size_t n) {
    if (p) return true;
    p.reset(new (std::nothrow) T[n]);
    return bool(p);
}

// `p` of `size` elements, replaced by a larger allocation when it holds fewer than `n`.
template <typename T>
bool Grow(std::unique_ptr<T[]>& p, std::size_t& size, std::size_t n) {
    if (p && size >= n) return true;
    p.reset();
    size = 0;
    if (!Allocate(p, n)) return false;
    size = n;
    return true;
}

constexpr std::size_t JobInputSize = MaxBlockLength + StreamReadSlack;
static_assert(InputSlack >= StreamReadSlack);

}  // namespace

Status JobBuffers::Prepare() {
    if (cleared_ && inSize_ == JobInputSize && out_) return Status::Ok;
    if (!Grow(in_, inSize_, JobInputSize) || !Allocate(out_, OutputBlockBufferSize)) return Status::OutOfMemory;
    // Comparisons look at the slack behind a chunk and decoders may read a little
    // past a block: keep those bytes defined.
    std::memset(in_.get(), 0, JobInputSize);
    cleared_ = true;
    return Status::Ok;
}

Status JobBuffers::PrepareFor(std::size_t longest) {
    // A chunk with InputSlack behind it, or a block with StreamReadSlack.
    const std::size_t size = longest < JobInputSize - InputSlack ? longest + InputSlack : JobInputSize;
    if (inSize_ < size) cleared_ = false;
    if (!Grow(in_, inSize_, size) || !Allocate(out_, OutputBlockBufferSize)) return Status::OutOfMemory;
    return Status::Ok;
}

Status CodecScratch::PrepareCompress(std::size_t longest) {
    longest = longest < MaxChunkLength ? longest : MaxChunkLength;
    if (encoder_.hashHead != nullptr && streamLongest_ >= longest) return Status::Ok;
    // The streams grow with the chunks; the tables are indexed by hash, whatever the length.
    encoder_ = {};
    if (streamLongest_ < longest || !streamMemory_) {
        streamMemory_.reset();
        streamLongest_ = 0;
        if (!Allocate(streamMemory_, StreamBufferFor(longest) * EncoderStreamCount)) return Status::OutOfMemory;
        streamLongest_ = longest;
    }
    if (!Allocate(tableMemory_, 2 * HashTableEntries)) return Status::OutOfMemory;
    for (int i = 0; i < EncoderStreamCount; ++i) {
        encoder_.stream[i] = streamMemory_.get() + i * StreamBufferFor(streamLongest_);
    }
    encoder_.hashHead = tableMemory_.get();
    encoder_.hashChain = tableMemory_.get() + HashTableEntries;
    return Status::Ok;
}

Status CodecScratch::PrepareEffort() {
    if (Status s = PrepareCompress(); s != Status::Ok) return s;
    // The spare holds the effort's block while the level's own is written beside it.
    if (!Allocate(parseMemory_, ParseMemorySize) || Spare() == nullptr) return Status::OutOfMemory;
    encoder_.parse = parseMemory_.get();
    return Status::Ok;
}

Status CodecScratch::PrepareDecompress() {
    constexpr std::size_t decodeSize = MaxStreamLength + SectionSlack;
    static_assert(SectionSlack >= StreamReadSlack);
    if (decode_.stream[0] != nullptr) return Status::Ok;
    if (!Allocate(decodeMemory_, decodeSize * MaxSections)) return Status::OutOfMemory;
    streamTables_ = NewStreamDecodeTables();
    if (streamTables_ == nullptr) return Status::OutOfMemory;
    for (int i = 0; i < MaxSections; ++i) decode_.stream[i] = decodeMemory_.get() + i * decodeSize;
    decode_.tables = streamTables_.get();
    return Status::Ok;
}

std::uint8_t* CodecScratch::Spare() { return Allocate(spare_, OutputBlockBufferSize) ? spare_.get() : nullptr; }

Status BlockWorkspace::PrepareCompress() {
    if (Status s = job.Prepare(); s != Status::Ok) return s;
    return codec.PrepareCompress();
}

Status BlockWorkspace::PrepareDecompress() {
    if (Status s = job.Prepare(); s != Status::Ok) return s;
    return codec.PrepareDecompress();
}

Status BlockWorkspace::PrepareCompressFor(std::size_t longest) {
    if (Status s = job.PrepareFor(longest); s != Status::Ok) return s;
    return codec.PrepareCompress(longest);
}

Status BlockWorkspace::PrepareDecompressFor(std::size_t longest) {
    if (Status s = job.PrepareFor(longest); s != Status::Ok) return s;
    return codec.PrepareDecompress();
}

}  // namespace orsk
