// Stream decoder: a coded section body back to its bytes.
#include "entropy/stream_coder.h"

namespace orsk {

Status DecodeStream(const std::uint8_t*, std::size_t, std::uint8_t*, std::size_t) { return Status::Corrupt; }

}  // namespace orsk
