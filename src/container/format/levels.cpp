// The six levels: each one's codec entries, block layout, store rules, filter and the
// console's words for it.
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

// name, compressing name, compressor, decoder, header order, sections, store threshold,
// kept only when shorter, filter and its inverse, block progress lines, failure word.
constexpr LevelInfo Levels[LevelCount] = {
    {"HYPERFAST", "HYPER_FAST", CompressWith<HyperfastSettings, HyperfastCompressBlock>, HyperfastDecodeBlock,
     HeaderOrder::A, 6, 6.0, true, nullptr, nullptr, true, "\n ERROR"},
    {"SUPERFAST", "SUPER_FAST", CompressWith<SuperfastSettings, SuperfastCompressBlock>, SuperfastDecodeBlock,
     HeaderOrder::A, 6, 6.1, true, nullptr, nullptr, true, "\n ERROR"},
    {"FAST", "FAST", CompressWith<FastSettings, FastCompressBlock>, FastDecodeBlock,
     HeaderOrder::A, 6, 6.5, false, nullptr, nullptr, false, "\n ERROR"},
    {"NORMAL", "NORMAL", CompressWith<NormalSettings, NormalCompressBlock>, NormalDecodeBlock,
     HeaderOrder::B, 6, 6.7, false, ApplyCallAddressFilter, RevertCallAddressFilter, false, "\n LZ Error "},
    {"BETTER", "BETTER", CompressWith<BetterSettings, BetterCompressBlock>, BetterDecodeBlock,
     HeaderOrder::A, 6, 7.6, false, nullptr, nullptr, false, "\n ERROR"},
    {"BEST", "BEST", CompressWith<BestSettings, BestCompressBlock>, BestDecodeBlock,
     HeaderOrder::A, 7, 7.65, false, nullptr, nullptr, false, "\n ERROR"},
};

}  // namespace

const LevelInfo& LevelOf(Level level) {
    assert(unsigned(level) < LevelCount);  // callers take levels from a checked digit
    return Levels[unsigned(level)];
}

}  // namespace orsk
