// Histogram and length-limited canonical prefix code construction.
#include "entropy/stream_coder.h"

namespace orsk {

unsigned CountSymbols(const std::uint8_t*, std::size_t, std::uint32_t[256], CodeEntry[256]) { return 0; }
void BuildPrefixCode(unsigned, std::uint32_t[13], CodeEntry[256], CodeEntry[256]) {}

}  // namespace orsk
