// Level 1, SUPERFAST: one hash slot, one-step lazy look, three recent offsets.
#include "codecs/superfast/superfast.h"

namespace orsk {

Status SuperfastCompressBlock(const SuperfastSettings&, EncoderScratch&, const std::uint8_t*, std::size_t, ByteSink&) {
    return Status::NoRoom;  // not built yet: the driver stores every chunk
}

Status SuperfastDecodeBlock(const BlockStreams&, ByteSink&) { return Status::Corrupt; }

}  // namespace orsk
