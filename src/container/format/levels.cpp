// The six levels: each one's codec entries, block layout, store rules and filter.
#include "container/format/levels.h"

#include <cassert>

#include "codecs/best/best.h"
#include "codecs/better/better.h"
#include "codecs/fast/fast.h"
#include "codecs/hyperfast/hyperfast.h"
#include "codecs/normal/normal.h"
#include "codecs/superfast/superfast.h"

namespace orsk {

namespace {

// Each compressor with its level's fixed settings.
template <typename Settings, auto Compress>
Status CompressWith(EncoderScratch& scratch, const std::uint8_t* chunk, std::size_t n, ByteSink& block) {
    return Compress(Settings{}, scratch, chunk, n, block);
}

constexpr LevelInfo Levels[LevelCount] = {
    {.name = "HYPERFAST", .compress = CompressWith<HyperfastSettings, HyperfastCompressBlock>,
     .decode = HyperfastDecodeBlock, .compressEffort = HyperfastCompressEffort,
     .headerOrder = HeaderOrder::A, .sections = 6, .storeThreshold = 6.0,
     .keepOnlyShorter = true, .filter = nullptr, .unfilter = nullptr},
    {.name = "SUPERFAST", .compress = CompressWith<SuperfastSettings, SuperfastCompressBlock>,
     .decode = SuperfastDecodeBlock, .compressEffort = SuperfastCompressEffort,
     .headerOrder = HeaderOrder::A, .sections = 6, .storeThreshold = 6.1,
     .keepOnlyShorter = true, .filter = nullptr, .unfilter = nullptr},
    {.name = "FAST", .compress = CompressWith<FastSettings, FastCompressBlock>, .decode = FastDecodeBlock,
     .compressEffort = nullptr,
     .headerOrder = HeaderOrder::A, .sections = 6, .storeThreshold = 6.5, .keepOnlyShorter = false,
     .filter = nullptr, .unfilter = nullptr},
    {.name = "NORMAL", .compress = CompressWith<NormalSettings, NormalCompressBlock>, .decode = NormalDecodeBlock,
     .compressEffort = nullptr,
     .headerOrder = HeaderOrder::B, .sections = 6, .storeThreshold = 6.7, .keepOnlyShorter = false,
     .filter = ApplyCallAddressFilter, .unfilter = RevertCallAddressFilter},
    {.name = "BETTER", .compress = CompressWith<BetterSettings, BetterCompressBlock>, .decode = BetterDecodeBlock,
     .compressEffort = nullptr,
     .headerOrder = HeaderOrder::A, .sections = 6, .storeThreshold = 7.6, .keepOnlyShorter = false,
     .filter = nullptr, .unfilter = nullptr},
    {.name = "BEST", .compress = CompressWith<BestSettings, BestCompressBlock>, .decode = BestDecodeBlock,
     .compressEffort = BestCompressEffort,
     .headerOrder = HeaderOrder::A, .sections = 7, .storeThreshold = 7.65, .keepOnlyShorter = false,
     .filter = nullptr, .unfilter = nullptr},
};

}  // namespace

const LevelInfo& LevelOf(Level level) {
    assert(unsigned(level) < LevelCount);  // callers take levels from a checked digit
    return Levels[unsigned(level)];
}

}  // namespace orsk
