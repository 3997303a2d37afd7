// Level 4, BETTER: recent offsets before the hash chain, long walks, coded literals.
// FAST's block layout and sequence coding with five recent-offset slots.
#include "codecs/better/better.h"

#include "codecs/common/hash_chain.h"
#include "codecs/common/recent_parse.h"
#include "codecs/common/sequence_coder.h"

namespace orsk {

namespace {

constexpr int BetterRecentSlots = 5;
// Two links per chain entry: walks of up to 129 candidates take half the dependent loads.
constexpr int BetterLinkLanes = 2;
constexpr SectionRules BetterSectionRules{true, true, 7.6};
// The window keeps every distance codable: (64,254 >> 8) + 5 = 255.
static_assert(BetterSettings{}.window <= SequenceStreams<BetterRecentSlots>::MaxDistance + 1);

// Hands the parse's sequences to the shared sequence coder, whose slots the probes read.
struct BetterEmitter {
    const std::uint8_t* chunk;
    SequenceStreams<BetterRecentSlots>& streams;

    void EmitLiterals(std::uint32_t start, std::uint32_t count) { streams.EmitSequence(chunk + start, count, 0, 0); }
    void EmitMatch(std::uint32_t start, std::uint32_t count, Match m) {
        streams.EmitSequence(chunk + start, count, m.length, m.distance);
    }
};

}  // namespace

Status BetterCompressBlock(const BetterSettings& settings, EncoderScratch& scratch, const std::uint8_t* chunk,
                           std::size_t n, ByteSink& block) {
    if (n == 0 || n > MaxChunkLength) return Status::Corrupt;
    auto finder = MakeChainFinder<BetterLinkLanes>(scratch, chunk, std::uint32_t(n), settings.window,
                                                   settings.maxChainSteps);
    SequenceStreams<BetterRecentSlots> streams;
    if (Status s = streams.Begin(scratch, block); s != Status::Ok) return s;
    BetterEmitter emitter{chunk, streams};

    const std::uint32_t pending = ParseRecentFirst(finder, settings.goodLength, streams.rep, emitter);
    // One literal-only sequence, even past 65,535 (up to 65,543): ExtraLength holds
    // the run less its code of 15.
    if (pending != 0) emitter.EmitLiterals(std::uint32_t(n) - pending, pending);
    return FinishSequenceBlock(block, streams, std::uint32_t(n), BetterSectionRules, HeaderOrder::A);
}

Status BetterDecodeBlock(const BlockStreams& in, ByteSink& out) { return DecodeSequences<BetterRecentSlots>(in, out); }

}  // namespace orsk
