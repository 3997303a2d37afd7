// Level 3, NORMAL: x86 call filter, hash chains (65 candidates) with positions inside
// matches inserted, lazy look, five recent offsets, every stream codable, Order B header.
#include "codecs/normal/normal.h"

#include "codecs/fast/lazy_parse.h"
#include "codecs/fast/match_finder.h"
#include "codecs/fast/sequence_coder.h"

namespace orsk {

namespace {
constexpr int NormalRepCount = 5;
constexpr double NormalLiteralEntropyLimit = 6.75;
constexpr SectionRules NormalSections{true, true, NormalLiteralEntropyLimit};
static_assert(NormalSettings::window - 1 <= SequenceStreams<NormalRepCount>::MaxDistance);
}  // namespace

Status NormalCompressBlock(const NormalSettings& settings, EncoderScratch& scratch, const std::uint8_t* chunk,
                           std::size_t n, ByteSink& block) {
    if (n == 0 || n > MaxChunkLength) return Status::Corrupt;
    SequenceStreams<NormalRepCount> streams;
    if (Status st = streams.Begin(scratch, block); st != Status::Ok) return st;
    ChainFinder finder{chunk, std::uint32_t(n), NormalSettings::window, settings.maxChainSteps, scratch.hashHead,
                       scratch.hashChain};
    ResetChainFinder(finder);
    ParseLazyChain<true>(finder, settings.goodLength, streams);
    return FinishSequenceBlock(block, streams, std::uint32_t(n), NormalSections, HeaderOrder::B);
}

Status NormalDecodeBlock(const BlockStreams& in, ByteSink& out) { return DecodeSequences<NormalRepCount>(in, out); }

namespace {

// The PE signature "PE\0\0" as a little-endian u32.
constexpr std::uint32_t PeSignature = 0x4550;
// Opcodes and signatures are looked for only below n - 8, so an operand (4 bytes at
// opcode + 1) always lies inside the chunk.
constexpr std::size_t FilterTail = 8;

// Index of the first signature below n - 8, or n when there is none.
std::size_t FindFilterAnchor(const std::uint8_t* b, std::size_t n) {
    if (n <= FilterTail) return n;
    const std::size_t last = n - FilterTail;
    for (std::size_t i = 0; i < last; ++i) {
        if (b[i] == 0x50 && LoadLE32(b + i) == PeSignature) return i;
    }
    return n;
}

// Visits every operand after the anchor exactly as both directions must: an E8/E9 byte
// takes the next four bytes as its operand, which are then skipped. Visited opcode
// bytes are never changed, so both directions visit the same operands.
template <typename Rewrite>
void ForEachCallOperand(std::uint8_t* b, std::size_t n, Rewrite rewrite) {
    const std::size_t anchor = FindFilterAnchor(b, n);
    if (anchor == n) return;
    const std::size_t last = n - FilterTail;
    std::size_t i = anchor;
    while (i < last) {
        if ((b[i] & 0xFE) != 0xE8) {
            ++i;
            continue;
        }
        const std::size_t p = i + 1;  // p + 4 <= n - 4
        const std::int64_t x = std::int32_t(LoadLE32(b + p));
        StoreLE32(b + p, std::uint32_t(std::int32_t(rewrite(x, std::int64_t(p)))));
        i = p + 4;
    }
}

}  // namespace

// Relative operands in [-p, n) become the absolute targets in [0, n) (those in
// [n - p, n) wrap to [-p, 0)); the map is one-to-one on that range, all others stay.
void ApplyCallAddressFilter(std::uint8_t* bytes, std::size_t n) {
    const std::int64_t len = std::int64_t(n);
    ForEachCallOperand(bytes, n, [len](std::int64_t x, std::int64_t p) {
        if (x >= -p && x < len - p) return x + p;
        if (x > 0 && x < len) return x - len;
        return x;
    });
}

void RevertCallAddressFilter(std::uint8_t* bytes, std::size_t n) {
    const std::int64_t len = std::int64_t(n);
    ForEachCallOperand(bytes, n, [len](std::int64_t x, std::int64_t p) {
        if (x < 0) return x + p >= 0 ? x + len : x;
        return x < len ? x - p : x;
    });
}

}  // namespace orsk
