// Stream encoder: one byte stream to a coded section body.
#include "entropy/stream_coder.h"

namespace orsk {

std::size_t CodedStreamSize(const std::uint8_t*, std::size_t) { return 0; }
Status EncodeStream(const std::uint8_t*, std::size_t, ByteSink&) { return Status::NoRoom; }

}  // namespace orsk
