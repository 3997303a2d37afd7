// Level 0, HYPERFAST: greedy parse with one hash slot per position, all streams raw.
// Distances travel as a high byte in their own stream and a low byte behind the header.
#include "codecs/hyperfast/hyperfast.h"

#include <cassert>

#include "codecs/common/match_length.h"
#include "codecs/common/position_hash.h"
#include "codecs/common/single_slot_sequences.h"
#include "codecs/common/single_slot_table.h"
#include "codecs/common/unsearched_tail.h"

namespace orsk {
namespace {

// Level 0's offset stream holds each match's distance >> 8.
constexpr int OffsetHighStream = SequenceSection::OffsetCodes;

// Distances from the high-byte stream and the low bytes behind the header, in step
// (the decoder checks that both hold one byte per match).
struct HyperfastOffsets {
    const std::uint8_t* high;
    const std::uint8_t* low;
    const std::uint8_t* highEnd;

    std::size_t Unchecked() const { return std::size_t(highEnd - high); }
    template <bool Careful>
    std::uint32_t Next() {
        if (Careful && high == highEnd) return 0;
        const std::uint32_t distance = std::uint32_t(*high++) << 8 | *low++;
        return distance;
    }
    bool Finished() const { return high == highEnd; }
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

    SequenceWriter w = MakeSequenceWriter(scratch);
    std::uint8_t* high = scratch.stream[OffsetHighStream];
    std::uint32_t* const table = scratch.hashHead;
    ClearSlotTable(table, HashTableEntries, chunk, n);

    const std::uint32_t size = std::uint32_t(n);
    const std::uint32_t window = settings.window;
    std::uint32_t pos = 0;
    PendingLiterals run;

    if (size > UnsearchedTail) {
        const std::uint32_t searchEnd = size - UnsearchedTail;
        // Each step enters with its slot h and the candidate read from it. The next
        // position's slot and candidate are read before the step branches, so a
        // mispredicted branch into the literal path finds them ready.
        std::uint32_t h = HashPosition(chunk);
        std::uint32_t cand = table[h];
        // Invariant: [0, run.anchor) is emitted; pos < searchEnd, so the 4-byte
        // groups at pos and pos + 1 and any match (capped at size - pos) lie in the
        // chunk.
        while (pos < searchEnd) {
            const std::uint8_t* const here = chunk + pos;
            const std::uint32_t group = LoadLE32(here);
            table[h] = pos;
            // Read after the store above, so a slot shared with pos yields pos.
            const std::uint32_t nextH = HashPosition(here + 1);
            const std::uint32_t nextCand = table[nextH];
            // An entry of 0 is empty, so cand > lower also rules it out.
            const std::uint32_t lower = pos > window ? pos - window : 0;
            const std::uint8_t* const there = chunk + cand;
            if (cand > lower && LoadLE32(there) == group) {
                // here + 12 lies at most 2 bytes past the chunk, inside its slack.
                PrefetchSlotsAfterMatch(table, here);
                const std::uint32_t length = ExtendMatch(here, there, MinMatchLength, MatchLimit(size, pos));
                const std::uint32_t distance = pos - cand;
                if (low == lowEnd) return Status::NoRoom;
                PutLiteralRun(w, chunk + run.anchor, pos - run.anchor);
                PutMatchLength(w, length);
                *high++ = std::uint8_t(distance >> 8);
                *low++ = std::uint8_t(distance);
                pos += length;  // positions inside the match are not indexed
                run.RestartAt(pos);
                // pos <= size: the group read lies in the chunk's slack at worst.
                h = HashPosition(chunk + pos);
                cand = table[h];
                continue;
            }
            run.AfterLiteral(w, chunk, pos);
            ++pos;
            h = nextH;
            cand = nextCand;
        }
    }
    run.Finish(w, chunk, size);
    return FinishSingleSlotBlock(block, low, scratch, w, high, size, false);
}

Status HyperfastDecodeBlock(const BlockStreams& in, ByteSink& out) {
    const ByteCursor& high = in.stream[OffsetHighStream];
    // One high and one low byte per match.
    if (Left(high) != Left(in.offsetLow)) return Status::Corrupt;
    HyperfastOffsets offsets{high.at, in.offsetLow.at, high.end};
    // Greedy matches seldom reach the escape length.
    return ReplaySequences<true>(in, out, offsets);
}

}  // namespace orsk
