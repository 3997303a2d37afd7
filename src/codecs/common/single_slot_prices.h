// What the length fields of levels 0 and 1 cost the optimal parse: a length of 15 or
// more takes a biased extension byte behind its code, 270 or more three.
#pragma once

#include <cstdint>

#include "codecs/common/match_length.h"
#include "codecs/common/optimal_parse.h"

namespace orsk {

// The extension bytes a run or match of `length` takes.
inline std::uint32_t BiasedExtensionPrice(std::uint32_t length) {
    return length < LengthEscapeCode ? 0 : length < LengthEscapeCode + 255 ? PriceOfByte : 3 * PriceOfByte;
}

// What a literal run's extension grows by when the run reaches `run` bytes.
inline std::uint32_t BiasedRunGrowthPrice(std::uint32_t run) {
    return run == LengthEscapeCode ? PriceOfByte : run == LengthEscapeCode + 255 ? 2 * PriceOfByte : 0;
}

}  // namespace orsk
