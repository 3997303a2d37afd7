// Level 0, HYPERFAST: greedy parse with one hash slot per position, all streams raw.
#include "codecs/hyperfast/hyperfast.h"

namespace orsk {

Status HyperfastCompressBlock(const HyperfastSettings&, EncoderScratch&, const std::uint8_t*, std::size_t, ByteSink&) {
    return Status::NoRoom;  // not built yet: the driver stores every chunk
}

Status HyperfastDecodeBlock(const BlockStreams&, ByteSink&) { return Status::Corrupt; }

}  // namespace orsk
