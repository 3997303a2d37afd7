// Level 5, BEST: BETTER's search with six recent offsets and its own token stream.
#include "codecs/best/best.h"

namespace orsk {

Status BestCompressBlock(const BestSettings&, EncoderScratch&, const std::uint8_t*, std::size_t, ByteSink&) {
    return Status::NoRoom;  // not built yet: the driver stores every chunk
}

Status BestDecodeBlock(const BlockStreams&, ByteSink&) { return Status::Corrupt; }

}  // namespace orsk
