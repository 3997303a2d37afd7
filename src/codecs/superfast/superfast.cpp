// Level 1, SUPERFAST: one hash slot, one-step lazy look, three recent offsets.
// Only the two length-code streams are entropy-coded, and only when long enough.
#include "codecs/superfast/superfast.h"

#include <cassert>

#include "codecs/common/match_length.h"
#include "codecs/common/position_hash.h"
#include "codecs/common/recent_offsets.h"
#include "codecs/common/single_slot_sequences.h"
#include "codecs/common/single_slot_table.h"
#include "codecs/common/unsearched_tail.h"

namespace orsk {
namespace {

// Offset codes 0..2 name a recent-offset slot; 3 + (distance >> 8) a new distance,
// whose low byte goes behind the header. The window keeps that code below 256.
constexpr int SuperfastRecentSlots = 3;
constexpr std::uint32_t NewDistanceCode = RecentOffsets<SuperfastRecentSlots>::NewDistance;
constexpr std::uint32_t MaxWindow = 64512;  // distance <= 64,511: code <= 3 + 251 = 254
static_assert(NewDistanceCode + ((MaxWindow - 1) >> 8) <= 255);

// Offset codes and low bytes of the decoder, replaying the compressor's slot moves.
struct SuperfastOffsets {
    ByteCursor codes;
    ByteCursor low;
    RecentSlots<SuperfastRecentSlots> rep;

    // A match takes one code and at most one low byte.
    std::size_t Unchecked() const { return Left(codes) < Left(low) ? Left(codes) : Left(low); }
    // 0 for an exhausted stream or a slot never filled in this block.
    template <bool Careful>
    std::uint32_t Next() {
        if (Careful && codes.at == codes.end) return 0;
        const std::uint32_t code = *codes.at++;
        if (code < NewDistanceCode) return rep.Take(code);
        if (Careful && low.at == low.end) return 0;
        const std::uint32_t d = (code - NewDistanceCode) << 8 | *low.at++;
        rep.Push(d);
        return d;
    }
    bool Finished() const { return codes.at == codes.end && low.at == low.end; }
};

// Common prefix of the positions p and cand (cand usable, 4-byte groups equal),
// capped at the bytes left and the longest match.
inline std::uint32_t MatchLengthAt(const std::uint8_t* chunk, std::uint32_t size, std::uint32_t p,
                                   std::uint32_t cand) {
    return ExtendMatch(chunk + p, chunk + cand, MinMatchLength, MatchLimit(size, p));
}

}  // namespace

Status SuperfastCompressBlock(const SuperfastSettings& settings, EncoderScratch& scratch, const std::uint8_t* chunk,
                              std::size_t n, ByteSink& block) {
    assert(n >= 1 && n <= MaxChunkLength);
    assert(settings.window <= MaxWindow);
    if (Room(block) < CompressedHeaderLength) return Status::NoRoom;
    std::uint8_t* const header = block.at;
    // OffsetLowBytes go straight behind the header as new distances are found.
    std::uint8_t* low = header + CompressedHeaderLength;
    std::uint8_t* const lowEnd = block.end;

    SequenceWriter w = MakeSequenceWriter(scratch);
    std::uint8_t* codes = scratch.stream[SequenceSection::OffsetCodes];
    std::uint32_t* const table = scratch.hashHead;
    ClearSlotTable(table, HashTableEntries, chunk, n);

    const std::uint32_t size = std::uint32_t(n);
    const std::uint32_t window = settings.window;
    const std::uint32_t goodLength = settings.goodLength;
    RecentOffsets<SuperfastRecentSlots> rep;
    std::uint32_t pos = 0;
    PendingLiterals run;

    if (size > UnsearchedTail) {
        const std::uint32_t searchEnd = size - UnsearchedTail;
        // Each step enters with its slot h and the candidate read from it. The next
        // position's slot and candidate are read before the step branches, so a
        // mispredicted branch into the literal path or the lazy look finds them ready.
        std::uint32_t h = HashPosition(chunk);
        std::uint32_t cand = table[h];
        // Invariant: [0, run.anchor) is emitted and pos < searchEnd, so the 4-byte groups
        // at pos and pos + 1 and any match (capped at the bytes left) lie in the chunk.
        while (pos < searchEnd) {
            // Literal steps, an inner loop of their own so that their state stays in
            // registers: each position is stored in its slot, until one whose
            // candidate repeats its group.
            std::uint32_t nextH;
            std::uint32_t nextCand;
            for (;;) {
                const std::uint8_t* const here = chunk + pos;
                table[h] = pos;
                // Read after the store above, so a slot shared with pos yields pos.
                nextH = HashPosition(here + 1);
                nextCand = table[nextH];
                // An entry of 0 is empty, so cand > lower also rules it out.
                const std::uint32_t lower = pos > window ? pos - window : 0;
                const std::uint8_t* const there = chunk + cand;
                if (cand > lower && LoadLE32(there) == LoadLE32(here)) break;
                run.AfterLiteral(w, chunk, pos);
                h = nextH;
                cand = nextCand;
                if (++pos == searchEnd) break;
            }
            if (pos == searchEnd) break;
            const std::uint8_t* const here = chunk + pos;

            // here + 12 lies at most 2 bytes past the chunk, inside its slack.
            PrefetchSlotsAfterMatch(table, here);
            std::uint32_t best = MatchLengthAt(chunk, size, pos, cand);
            std::uint32_t start = pos;
            std::uint32_t distance = pos - cand;
            if (best < goodLength) {
                // One-step lazy look: a strictly longer match at pos + 1 wins, and the
                // byte at pos joins the literals (a run of at most MaxLiteralRun then).
                const std::uint32_t q = pos + 1;
                const std::uint32_t candQ = nextCand;
                table[nextH] = q;
                const std::uint32_t lowerQ = q > window ? q - window : 0;
                // A candidate whose byte at offset best differs cannot be longer;
                // that byte lies at most one past the chunk, inside its slack.
                if (candQ > lowerQ && chunk[candQ + best] == here[1 + best] &&
                    LoadLE32(chunk + candQ) == LoadLE32(here + 1)) {
                    const std::uint32_t lengthQ = MatchLengthAt(chunk, size, q, candQ);
                    if (lengthQ > best) {
                        best = lengthQ;
                        distance = q - candQ;
                        start = q;
                    }
                }
            }

            PutLiteralRun(w, chunk + run.anchor, start - run.anchor);
            PutMatchLength(w, best);
            if (const unsigned k = rep.Use(distance); k != NewDistanceCode) {
                *codes++ = std::uint8_t(k);
            } else {
                if (low == lowEnd) return Status::NoRoom;
                *codes++ = std::uint8_t(NewDistanceCode + (distance >> 8));
                *low++ = std::uint8_t(distance);
            }
            pos = start + best;  // positions inside the match are not indexed
            run.RestartAt(pos);
            // pos <= size: the group read lies in the chunk's slack at worst.
            h = HashPosition(chunk + pos);
            cand = table[h];
        }
    }
    run.Finish(w, chunk, size);
    return FinishSingleSlotBlock(block, low, scratch, w, codes, size, true);
}

Status SuperfastDecodeBlock(const BlockStreams& in, ByteSink& out) {
    SuperfastOffsets offsets{in.stream[SequenceSection::OffsetCodes], in.offsetLow, {}};
    // The lazy look makes long matches, and escaped lengths, common.
    return ReplaySequences<false>(in, out, offsets);
}

}  // namespace orsk
