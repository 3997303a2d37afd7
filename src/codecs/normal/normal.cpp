// Level 3, NORMAL: x86 call filter, hash chains, five recent offsets, Order B header.
#include "codecs/normal/normal.h"

namespace orsk {

Status NormalCompressBlock(const NormalSettings&, EncoderScratch&, const std::uint8_t*, std::size_t, ByteSink&) {
    return Status::NoRoom;  // not built yet: the driver stores every chunk
}

Status NormalDecodeBlock(const BlockStreams&, ByteSink&) { return Status::Corrupt; }

}  // namespace orsk

namespace orsk {

void ApplyCallAddressFilter(std::uint8_t*, std::size_t) {}
void RevertCallAddressFilter(std::uint8_t*, std::size_t) {}

}  // namespace orsk
