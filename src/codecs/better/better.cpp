// Level 4, BETTER: recent offsets before the hash chain, long walks, coded literals.
#include "codecs/better/better.h"

namespace orsk {

Status BetterCompressBlock(const BetterSettings&, EncoderScratch&, const std::uint8_t*, std::size_t, ByteSink&) {
    return Status::NoRoom;  // not built yet: the driver stores every chunk
}

Status BetterDecodeBlock(const BlockStreams&, ByteSink&) { return Status::Corrupt; }

}  // namespace orsk
