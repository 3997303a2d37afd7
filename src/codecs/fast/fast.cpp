// Level 2, FAST: hash-chain search (5 candidates), lazy look, four recent offsets;
// offset codes and literals are always stored raw.
#include "codecs/fast/fast.h"

#include "codecs/common/hash_chain.h"
#include "codecs/common/lazy_parse.h"
#include "codecs/common/sequence_coder.h"

namespace orsk {

namespace {
constexpr int FastRepCount = 4;
// Five candidates per search: a second link per entry costs more at each insert than it
// saves in the walk.
constexpr int FastLinkLanes = 1;
constexpr SectionRules FastSections{false, false, 0.0};
}  // namespace

Status FastCompressBlock(const FastSettings& settings, EncoderScratch& scratch, const std::uint8_t* chunk,
                         std::size_t n, ByteSink& block) {
    // The window keeps every distance codable in one offset byte: (64,255 >> 8) + 4 = 254.
    constexpr std::uint32_t maxWindow = SequenceStreams<FastRepCount>::MaxDistance + 1;
    static_assert(FastSettings{}.window <= maxWindow);
    if (n == 0 || n > MaxChunkLength || settings.window > maxWindow) return Status::Corrupt;
    SequenceStreams<FastRepCount> streams;
    if (Status st = streams.Begin(scratch, block); st != Status::Ok) return st;
    auto finder =
        MakeChainFinder<FastLinkLanes>(scratch, chunk, std::uint32_t(n), settings.window, settings.maxChainSteps);
    ParseLazyChain<false>(finder, settings.goodLength, streams);
    return FinishSequenceBlock(block, streams, std::uint32_t(n), FastSections, HeaderOrder::A);
}

Status FastDecodeBlock(const BlockStreams& in, ByteSink& out) { return DecodeSequences<FastRepCount>(in, out); }

}  // namespace orsk
