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

constexpr std::size_t JobInputSize = MaxBlockLength + StreamReadSlack;

}  // namespace

Status JobBuffers::Prepare() {
    if (in_ && out_) return Status::Ok;
    if (!Allocate(in_, JobInputSize) || !Allocate(out_, OutputBlockBufferSize)) return Status::OutOfMemory;
    // Comparisons look at the slack behind a chunk and decoders may read a little
    // past a block: keep those bytes defined.
    std::memset(in_.get(), 0, JobInputSize);
    return Status::Ok;
}

Status CodecScratch::PrepareCompress() {
    if (encoder_.hashHead != nullptr) return Status::Ok;
    if (!Allocate(streamMemory_, StreamBufferSize * EncoderStreamCount) ||
        !Allocate(tableMemory_, 2 * HashTableEntries)) {
        return Status::OutOfMemory;
    }
    for (int i = 0; i < EncoderStreamCount; ++i) encoder_.stream[i] = streamMemory_.get() + i * StreamBufferSize;
    encoder_.hashHead = tableMemory_.get();
    encoder_.hashChain = tableMemory_.get() + HashTableEntries;
    return Status::Ok;
}

Status CodecScratch::PrepareEffort() {
    if (Status s = PrepareCompress(); s != Status::Ok) return s;
    if (!Allocate(parseMemory_, ParseMemorySize)) return Status::OutOfMemory;
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

}  // namespace orsk
