// Allocation of a worker's buffers, once, on first use.
#include "container/workspace.h"

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

}  // namespace

Status BlockWorkspace::PrepareCompress() {
    if (!Allocate(chunk_, MaxChunkLength + InputSlack) || !Allocate(block_, OutputBlockBufferSize) ||
        !Allocate(streamMemory_, StreamBufferSize * EncoderStreamCount) ||
        !Allocate(tableMemory_, 2 * HashTableEntries)) {
        return Status::OutOfMemory;
    }
    if (scratch_.hashHead == nullptr) {
        // Comparisons may look at the slack behind a chunk; keep it defined.
        std::memset(chunk_.get(), 0, MaxChunkLength + InputSlack);
        for (int i = 0; i < EncoderStreamCount; ++i) scratch_.stream[i] = streamMemory_.get() + i * StreamBufferSize;
        scratch_.hashHead = tableMemory_.get();
        scratch_.hashChain = tableMemory_.get() + HashTableEntries;
    }
    return Status::Ok;
}

Status BlockWorkspace::PrepareDecompress() {
    constexpr std::size_t decodeSize = MaxStreamLength + SectionSlack;
    static_assert(SectionSlack >= StreamReadSlack);
    if (!Allocate(input_, MaxBlockLength + StreamReadSlack) || !Allocate(block_, OutputBlockBufferSize) ||
        !Allocate(decodeMemory_, decodeSize * MaxSections)) {
        return Status::OutOfMemory;
    }
    if (decode_.stream[0] == nullptr) std::memset(input_.get(), 0, MaxBlockLength + StreamReadSlack);
    for (int i = 0; i < MaxSections; ++i) decode_.stream[i] = decodeMemory_.get() + i * decodeSize;
    return Status::Ok;
}

}  // namespace orsk
