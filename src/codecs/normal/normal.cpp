// Level 3, NORMAL: x86 call filter, hash chains (65 candidates) with positions inside
// matches inserted, lazy look, five recent offsets, every stream codable, Order B header.
#include "codecs/normal/normal.h"

#include <cstring>

#include "codecs/common/hash_chain.h"
#include "codecs/common/lazy_parse.h"
#include "codecs/common/sequence_coder.h"

namespace orsk {

namespace {
constexpr int NormalRepCount = 5;
// Two links per chain entry: walks of up to 65 candidates take half the dependent loads.
constexpr int NormalLinkLanes = 2;
constexpr double NormalLiteralEntropyLimit = 6.75;
constexpr SectionRules NormalSections{true, true, NormalLiteralEntropyLimit};
static_assert(NormalSettings::window - 1 <= SequenceStreams<NormalRepCount>::MaxDistance);
}  // namespace

Status NormalCompressBlock(const NormalSettings& settings, EncoderScratch& scratch, const std::uint8_t* chunk,
                           std::size_t n, ByteSink& block) {
    if (n == 0 || n > MaxChunkLength) return Status::Corrupt;
    SequenceStreams<NormalRepCount> streams;
    if (Status st = streams.Begin(scratch, block); st != Status::Ok) return st;
    auto finder = MakeChainFinder<NormalLinkLanes>(scratch, chunk, std::uint32_t(n), NormalSettings::window,
                                                   settings.maxChainSteps);
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

// Sixteen bytes, compared and masked lane by lane (plain vector code on every target).
using Group = std::uint8_t __attribute__((vector_size(16)));

// Index of the first signature below n - 8, or n when there is none.
std::size_t FindFilterAnchor(const std::uint8_t* b, std::size_t n) {
    if (n <= FilterTail) return n;
    const std::size_t last = n - FilterTail;
    // 16 positions per step look for a 'P' followed by an 'E'; only a group with one
    // is checked position by position. Text is full of 'P's, so stopping at each one
    // (as a byte search would) costs more than the whole step. The reads at i + 1
    // end at i + 17 <= last + 1, inside the chunk.
    std::size_t i = 0;
    for (; i + 16 <= last; i += 16) {
        Group here, next;
        std::memcpy(&here, b + i, 16);
        std::memcpy(&next, b + i + 1, 16);
        const auto pairs = (here == 'P') & (next == 'E');
        std::uint64_t half[2];
        std::memcpy(half, &pairs, 16);
        if ((half[0] | half[1]) == 0) [[likely]] continue;
        for (std::size_t j = i; j < i + 16; ++j) {
            if (LoadLE32(b + j) == PeSignature) return j;
        }
    }
    for (; i < last; ++i) {
        if (LoadLE32(b + i) == PeSignature) return i;
    }
    return n;
}

// The first E8 or E9 byte in b[i, last), or last. Sixteen bytes per step while a
// whole group lies below last (last <= n - 8, so every group read is inside the chunk).
std::size_t FindCallOpcode(const std::uint8_t* b, std::size_t i, std::size_t last) {
    for (; i + 16 <= last; i += 16) {
        Group g;
        std::memcpy(&g, b + i, 16);
        const auto calls = (g & 0xFE) == 0xE8;
        std::uint64_t half[2];
        std::memcpy(half, &calls, 16);
        // Each flagged byte is all ones: the lowest set bit marks the first opcode.
        if (half[0] != 0) return i + (std::uint32_t(__builtin_ctzll(half[0])) >> 3);
        if (half[1] != 0) return i + 8 + (std::uint32_t(__builtin_ctzll(half[1])) >> 3);
    }
    while (i < last && (b[i] & 0xFE) != 0xE8) ++i;
    return i;
}

// Visits every operand after the anchor exactly as both directions must: an E8/E9 byte
// takes the next four bytes as its operand, which are then skipped. Visited opcode
// bytes are never changed, so both directions visit the same operands.
template <typename Rewrite>
void ForEachCallOperand(std::uint8_t* b, std::size_t n, Rewrite rewrite) {
    const std::size_t anchor = FindFilterAnchor(b, n);
    if (anchor == n) return;
    const std::size_t last = n - FilterTail;
    // Bytes from i on are still unchanged: operands are rewritten behind it.
    std::size_t i = FindCallOpcode(b, anchor, last);
    while (i < last) {
        const std::size_t p = i + 1;  // p + 4 <= n - 4
        const std::int64_t x = std::int32_t(LoadLE32(b + p));
        StoreLE32(b + p, std::uint32_t(std::int32_t(rewrite(x, std::int64_t(p)))));
        i = FindCallOpcode(b, p + 4, last);
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
