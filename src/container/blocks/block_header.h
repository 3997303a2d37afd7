// The fixed header of a compressed block: its four fields and the two orders the
// levels write them in. The one place that writes and reads them.
#pragma once

#include <cstdint>

#include "base/bytes.h"
#include "base/format.h"

namespace orsk {

enum class HeaderOrder : std::uint8_t {
    A,  // SequenceCount, ChunkLength, OffsetLowLength, BlockLength
    B,  // ChunkLength, BlockLength, SequenceCount, OffsetLowLength
};

struct BlockHeader {
    std::uint32_t sequenceCount = 0;
    std::uint32_t chunkLength = 0;
    std::uint32_t offsetLowLength = 0;
    std::uint32_t blockLength = 0;  // the whole block, these 17 bytes included
};

// Writes the kind byte and the four fields into block[0..CompressedHeaderLength).
inline void WriteBlockHeader(std::uint8_t* block, HeaderOrder order, const BlockHeader& h) {
    const bool a = order == HeaderOrder::A;
    block[0] = CompressedBlockKind;
    StoreLE32(block + 1, a ? h.sequenceCount : h.chunkLength);
    StoreLE32(block + 5, a ? h.chunkLength : h.blockLength);
    StoreLE32(block + 9, a ? h.offsetLowLength : h.sequenceCount);
    StoreLE32(block + 13, a ? h.blockLength : h.offsetLowLength);
}

// Reads the four fields of block[0..CompressedHeaderLength); nothing is checked here.
inline BlockHeader ReadBlockHeader(const std::uint8_t* block, HeaderOrder order) {
    const std::uint32_t f1 = LoadLE32(block + 1), f2 = LoadLE32(block + 5);
    const std::uint32_t f3 = LoadLE32(block + 9), f4 = LoadLE32(block + 13);
    if (order == HeaderOrder::A) return {f1, f2, f3, f4};
    return {f3, f1, f4, f2};
}

}  // namespace orsk
