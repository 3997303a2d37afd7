// Level 0, HYPERFAST: greedy parse with one hash slot per position, all streams raw.
// Distances travel as a high byte in their own stream and a low byte behind the header.
#include "codecs/hyperfast/hyperfast.h"

#include <cassert>
#include <cstring>

#include "codecs/hyperfast/match_length.h"
#include "codecs/hyperfast/sequence_streams.h"

namespace orsk {
namespace {

// The last 9 positions are never searched and always end as literals; the block
// layout of a chunk depends on exactly this margin.
constexpr std::size_t UnsearchedTail = 9;

// Level 0's offset stream holds each match's distance >> 8.
constexpr int OffsetHighStream = OffsetStream;

// Distances from the high-byte stream and the low bytes behind the header, in step.
struct HyperfastOffsets {
    const std::uint8_t* high;
    const std::uint8_t* low;
    std::size_t left;

    bool Next(std::uint32_t& distance) {
        if (left == 0) return false;
        distance = std::uint32_t(*high++) << 8 | *low++;
        --left;
        return true;
    }
    bool Finished() const { return left == 0; }
};

}  // namespace

Status HyperfastCompressBlock(const HyperfastSettings& settings, EncoderScratch& scratch, const std::uint8_t* chunk,
                              std::size_t n, ByteSink& block) {
    assert(n >= 1 && n <= MaxChunkLength);
    if (Room(block) < CompressedHeaderLength) return Status::NoRoom;
    std::uint8_t* const header = block.at;
    // OffsetLowBytes go straight behind the header as matches are found.
    std::uint8_t* low = header + CompressedHeaderLength;
    std::uint8_t* const lowEnd = block.end;

    SequenceWriter w{scratch.stream[LiteralCodeStream], scratch.stream[MatchCodeStream],
                     scratch.stream[LiteralExtraStream], scratch.stream[MatchExtraStream],
                     scratch.stream[LiteralStream]};
    std::uint8_t* high = scratch.stream[OffsetHighStream];
    std::uint32_t* const table = scratch.hashHead;
    std::memset(table, 0, HashTableEntries * sizeof(std::uint32_t));

    const std::uint32_t size = std::uint32_t(n);
    const std::uint32_t window = settings.window;
    std::uint32_t pos = 0;
    std::uint32_t pending = 0;  // literals since the last sequence, ending before pos
    std::uint32_t sequenceCount = 0;

    if (size > UnsearchedTail) {
        const std::uint32_t searchEnd = size - std::uint32_t(UnsearchedTail);
        // Invariant: [0, pos - pending) is emitted; pos < searchEnd, so the 4-byte
        // group at pos and any match (capped at size - pos) lie in the chunk.
        while (pos < searchEnd) {
            const std::uint8_t* const here = chunk + pos;
            const std::uint32_t group = LoadLE32(here);
            const std::uint32_t h = HashPosition(here);
            const std::uint32_t cand = table[h];
            table[h] = pos;
            // An entry of 0 is empty, so cand > lower also rules it out.
            const std::uint32_t lower = pos > window ? pos - window : 0;
            if (cand > lower) {
                const std::uint8_t* const there = chunk + cand;
                PrefetchCandidate(there);
                if (there[0] == std::uint8_t(group) && LoadLE32(there) == group) {
                    const std::uint32_t left = size - pos;
                    const std::uint32_t cap = left < MaxMatchRun ? left : MaxMatchRun;
                    const std::uint32_t length = ExtendMatch(here, there, 4, cap);
                    const std::uint32_t distance = pos - cand;
                    if (low == lowEnd) return Status::NoRoom;
                    PutLiteralRun(w, here - pending, pending);
                    PutMatchLength(w, length);
                    *high++ = std::uint8_t(distance >> 8);
                    *low++ = std::uint8_t(distance);
                    ++sequenceCount;
                    pending = 0;
                    pos += length;  // positions inside the match are not indexed
                    continue;
                }
            }
            if (++pending == MaxLiteralRun) {
                // The run ends at pos itself: positions pos - 65534 .. pos.
                PutLiteralOnly(w, here + 1 - pending, pending);
                ++sequenceCount;
                pending = 0;
            }
            ++pos;
        }
    }
    // The tail (and anything pending) becomes one final literal-only sequence of at
    // most 65,534 + 9 bytes.
    pending += size - pos;
    if (pending != 0) {
        PutLiteralOnly(w, chunk + size - pending, pending);
        ++sequenceCount;
    }

    return FinishSingleSlotBlock(block, low, scratch, w, high, sequenceCount, size, false);
}

Status HyperfastDecodeBlock(const BlockStreams& in, ByteSink& out) {
    const ByteCursor& high = in.stream[OffsetHighStream];
    // One high and one low byte per match.
    if (Left(high) != Left(in.offsetLow)) return Status::Corrupt;
    HyperfastOffsets offsets{high.at, in.offsetLow.at, Left(high)};
    return ReplaySequences(in, out, offsets);
}

}  // namespace orsk
