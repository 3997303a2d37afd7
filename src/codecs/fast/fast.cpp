// Level 2, FAST: hash-chain search, lazy look, four recent offsets.
#include "codecs/fast/fast.h"

namespace orsk {

Status FastCompressBlock(const FastSettings&, EncoderScratch&, const std::uint8_t*, std::size_t, ByteSink&) {
    return Status::NoRoom;  // not built yet: the driver stores every chunk
}

Status FastDecodeBlock(const BlockStreams&, ByteSink&) { return Status::Corrupt; }

}  // namespace orsk
