// Level 0, HYPERFAST: greedy parse with one hash slot per position, all streams raw.
// Distances travel as a high byte in their own stream and a low byte behind the header.
#include "codecs/hyperfast/hyperfast.h"

#include <cassert>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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
// (the decoder checks that both hold `count` bytes). One index serves both.
struct HyperfastOffsets {
    const std::uint8_t* high;
    const std::uint8_t* low;
    std::size_t count;
    std::size_t taken = 0;

    std::size_t Unchecked() const { return count - taken; }
    template <bool Careful>
    std::uint32_t Next() {
        if (Careful && taken == count) return 0;
        const std::uint32_t distance = std::uint32_t(high[taken]) << 8 | low[taken];
        ++taken;
        return distance;
    }
    bool Finished() const { return taken == count; }
};

// How far ahead a literal step fetches the slot of a later position (measured: 2 to 16
// give about the same; 8 gained 3 to 5% on text, executables and database pages).
constexpr std::uint32_t SlotLead = 8;
static_assert(SlotLead + 3 < UnsearchedTail + InputSlack);

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
            // The slot SlotLead positions on, and the bytes the next candidate names,
            // are fetched ahead (the table and the chunk outgrow L1). The group read
            // ends SlotLead + 3 bytes past pos, inside the chunk's slack; a stale
            // candidate's address is fetched for nothing (a prefetch never faults).
            PrefetchSlot(table + HashPosition(here + SlotLead));
            __builtin_prefetch(chunk + nextCand);
            run.AfterLiteral(w, chunk, pos);
            ++pos;
            h = nextH;
            cand = nextCand;
        }
    }
    run.Finish(w, chunk, size);
    return FinishSingleSlotBlock(block, low, scratch, w, high, size, false);
}

namespace {

// The batch loop: 16 sequences at a time are tested once for room, distances of 0 and
// codes that need the careful path; the rest replay without a test of their own. A
// literal code alone gives at most ShortLength (14) literals; a match code of 15 with a
// one-byte extension at most LongMatch (15 + 254) bytes, longer ones end the batch.
constexpr std::uint32_t BatchLength = 16;
constexpr std::size_t ShortLength = LengthEscapeCode - 1;
constexpr std::size_t LongMatch = LengthEscapeCode + 254;
// Such a sequence advances the output by at most 14 + 269 bytes, and its stores end
// below its end + CopyMatchOverrun. With this room at a test, the at most 16 sequences
// before the next one stop at outEnd and store inside CopySlack past it.
constexpr std::size_t BatchOutputRoom = BatchLength * (ShortLength + LongMatch);
// They take at most 14 literals each, reading 16: at most 2 bytes past the stream.
constexpr std::size_t BatchLiteralRoom = BatchLength * ShortLength;
static_assert(StreamReadSlack >= 2);
// Batches with at least this many extended matches replay Wide.
constexpr std::uint32_t WideBatch = 5;
// From here on every 16-bit distance but 0 points inside what was restored.
constexpr std::size_t FarOutput = 65535;

struct BatchMasks {
    std::uint32_t careful;  // bit k: sequence k has a literal code above 14 or a match code above 15
    std::uint32_t extended;  // bit k: its match code is 15
};

// The masks of the next 16 sequences. Reads 16 bytes of each code stream.
inline BatchMasks ClassifyBatch(const std::uint8_t* literalCodes, const std::uint8_t* matchCodes) {
#if defined(__SSE2__)
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(literalCodes));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(matchCodes));
    const __m128i zero = _mm_setzero_si128();
    const __m128i shortLiterals = _mm_cmpeq_epi8(_mm_subs_epu8(a, _mm_set1_epi8(char(ShortLength))), zero);
    const __m128i matchCodesInRange = _mm_cmpeq_epi8(_mm_subs_epu8(b, _mm_set1_epi8(char(LengthEscapeCode))), zero);
    const std::uint32_t plain = std::uint32_t(_mm_movemask_epi8(_mm_and_si128(shortLiterals, matchCodesInRange)));
    const std::uint32_t extended =
        std::uint32_t(_mm_movemask_epi8(_mm_cmpeq_epi8(b, _mm_set1_epi8(char(LengthEscapeCode)))));
    return {~plain & 0xFFFFu, extended};
#else
    BatchMasks m{0, 0};
    for (std::uint32_t k = 0; k < BatchLength; ++k) {
        m.careful |= std::uint32_t(literalCodes[k] > ShortLength || matchCodes[k] > LengthEscapeCode) << k;
        m.extended |= std::uint32_t(matchCodes[k] == LengthEscapeCode) << k;
    }
    return m;
#endif
}

// The bits set in a batch's mask (no popcount instruction in the baseline instruction set).
inline std::uint32_t ExtendedCount(std::uint32_t mask) {
    mask -= mask >> 1 & 0x5555u;
    mask = (mask & 0x3333u) + (mask >> 2 & 0x3333u);
    mask = (mask + (mask >> 4)) & 0x0F0Fu;
    return (mask + (mask >> 8)) & 0x1Fu;
}

// Whether one of the next 16 distances is 0. Reads 16 bytes of each offset stream.
inline bool HasZeroDistance(const std::uint8_t* high, const std::uint8_t* low) {
#if defined(__SSE2__)
    const __m128i either = _mm_or_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(high)),
                                        _mm_loadu_si128(reinterpret_cast<const __m128i*>(low)));
    return _mm_movemask_epi8(_mm_cmpeq_epi8(either, _mm_setzero_si128())) != 0;
#else
    for (std::uint32_t k = 0; k < BatchLength; ++k) {
        if ((high[k] | low[k]) == 0) return true;
    }
    return false;
#endif
}

bool HasRoom(const ReplayState& s, const std::uint8_t* lit, const std::uint8_t* op) {
    return std::size_t(s.outEnd - op) >= BatchOutputRoom && std::size_t(s.litEnd - lit) >= BatchLiteralRoom;
}

// CopyMatch, but a distance of 32 or more loads both 16-byte groups before storing
// either, so that the second load does not wait for the first store. (Levels 1 to 5
// measured slower with this in CopyMatch itself.)
inline void CopyMatchApart(std::uint8_t* op, std::size_t distance, std::size_t length) {
    if (distance < 32) {
        CopyMatch(op, distance, length);
        return;
    }
    const std::uint8_t* const from = op - distance;
    std::uint8_t first[16], second[16];
    std::memcpy(first, from, 16);
    std::memcpy(second, from + 16, 16);
    std::memcpy(op, first, 16);
    std::memcpy(op + 16, second, 16);
    if (length > 32) [[unlikely]] CopyWide16(op + 32, from + 32, length - 32);
}

// A batch's sequence on the careful path: ReplayCodes on the batch's own cursors.
template <bool Near>
[[gnu::always_inline]] inline bool ReplayCareful(ReplayState& s, std::size_t literalCount, std::size_t matchLength,
                                                 const std::uint8_t*& lit, std::uint8_t*& op,
                                                 const std::uint8_t* high, const std::uint8_t* low, std::size_t& j) {
    if (!ReadEscapedLengths(s, literalCount, matchLength)) return false;
    if (literalCount > std::size_t(s.litEnd - lit) || literalCount + matchLength > std::size_t(s.outEnd - op)) {
        return false;
    }
    CopyWide16(op, lit, literalCount);
    lit += literalCount;
    op += literalCount;
    if (matchLength != 0) {
        const std::size_t distance = std::size_t(high[j]) << 8 | low[j];
        ++j;
        if (Near && distance - 1 >= std::size_t(op - s.outBegin)) return false;
        CopyMatchApart(op, distance, matchLength);
        op += matchLength;
    }
    return true;
}

// Replays up to BatchLength sequences and returns how many, or 0 on damage. The caller
// checked the batch: 16 codes of each kind and 16 distances left, none of them 0, room
// (HasRoom), and at least one match extension byte per `extended` match. Sequences with
// a `careful` bit replay with every check; the batch ends after one unless the room
// and extension tests still hold, and after a match extension longer than one byte. With Near, the
// distance is checked against what was restored; without, the output already holds
// FarOutput bytes. Wide suits batches with many extended matches: every match moves 32
// bytes and adds its extension without a branch. Otherwise a match moves 16 bytes and
// an extended one branches off to read its extension here rather than on the careful
// path: a second store on every match costs more than the branches then mispredict
// (measured on text and database pages).
template <bool Near, bool Wide>
std::uint32_t ReplayBatch(ReplayState& s, HyperfastOffsets& offsets, std::uint32_t careful, std::uint32_t extended) {
    // Indices into the code and offset streams rather than pointers stepped side by
    // side, which the compiler would keep in vector registers at a cost per sequence.
    const std::uint8_t* const literalCodes = s.literalCodes;
    const std::uint8_t* const matchCodes = s.matchCodes;
    const std::uint8_t* const high = offsets.high;
    const std::uint8_t* const low = offsets.low;
    const std::uint8_t* const extras = s.matchExtras.at;
    const std::uint8_t* lit = s.lit;
    std::uint8_t* op = s.op;
    std::size_t k = 0;              // sequences replayed
    std::size_t j = offsets.taken;  // distances taken
    std::size_t x = 0;              // match extension bytes taken
    // Unrolled in full: each sequence's codes load from a fixed offset, its careful bit
    // is tested against a constant, and each of the 16 sites keeps its own branch
    // history (measured: 5 to 7% faster on text and sources, about 12 KB of code for
    // each of the four shapes).
#pragma GCC unroll 16
    while (k < BatchLength) {
        const std::size_t literalCount = literalCodes[k];
        std::size_t matchLength = matchCodes[k];
        if (careful >> k & 1u) [[unlikely]] {
            s.matchExtras.at = extras + x;
            if (!ReplayCareful<Near>(s, literalCount, matchLength, lit, op, high, low, j)) return 0;
            x = std::size_t(s.matchExtras.at - extras);
            ++k;
            if (!HasRoom(s, lit, op)) break;
            // Its extension may have taken three bytes: the extended matches left
            // must still find one each.
            if (ExtendedCount(extended >> k) > Left(s.matchExtras)) break;
            continue;
        }
        ++k;
        CopyWide16(op, lit, 16);
        lit += literalCount;
        op += literalCount;
        if (matchLength != 0) [[likely]] {
            const std::size_t distance = std::size_t(high[j]) << 8 | low[j];
            ++j;
            if (Near && distance - 1 >= std::size_t(op - s.outBegin)) return 0;
            if (!Wide && matchLength != LengthEscapeCode) [[likely]] {
                if (distance >= 16) [[likely]] {
                    CopyWide16(op, op - distance, 16);  // one step covers the match
                } else {
                    CopyMatchApart(op, distance, matchLength);
                }
                op += matchLength;
                continue;
            }
            // A code of 15 adds its one-byte extension: the caller counted one byte of
            // the stream for each, so the read is inside it. Wide adds it without a
            // branch, reading the byte at x whether or not it is used: at worst the
            // first byte of the stream's read slack.
            std::size_t extra;
            if (Wide) {
                const std::size_t isExtended = matchLength == LengthEscapeCode;
                extra = extras[x] & (0 - isExtended);
                x += isExtended;
            } else {
                extra = extras[x];
                ++x;
            }
            matchLength += extra;
            if (extra == 255) [[unlikely]] {
                // 15 + 255 + a 16-bit value: checked, and the batch ends after it.
                if (!Holds(ByteCursor{extras + x, s.matchExtras.end}, 2)) return 0;
                matchLength += std::size_t(extras[x]) << 8 | extras[x + 1];
                x += 2;
                if (matchLength > std::size_t(s.outEnd - op)) return 0;
                CopyMatchApart(op, distance, matchLength);
                op += matchLength;
                break;
            }
            CopyMatchApart(op, distance, matchLength);
            op += matchLength;
        }
    }
    s.literalCodes = literalCodes + k;
    s.matchCodes = matchCodes + k;
    s.matchExtras.at = extras + x;
    s.lit = lit;
    s.op = op;
    offsets.taken = j;
    return std::uint32_t(k);
}

}  // namespace

Status HyperfastDecodeBlock(const BlockStreams& in, ByteSink& out) {
    const ByteCursor& high = in.stream[OffsetHighStream];
    // One high and one low byte per match.
    if (Left(high) != Left(in.offsetLow)) return Status::Corrupt;
    HyperfastOffsets offsets{high.at, in.offsetLow.at, Left(high)};
    ReplayState s;
    if (!StartReplay(in, out, s)) return Status::Corrupt;
    std::uint32_t left = in.sequenceCount;
    // Batches while 16 sequences and distances remain and the room test holds; a
    // batch that would meet a distance of 0 or run out of match extensions replays one
    // checked sequence instead.
    while (left >= BatchLength && offsets.Unchecked() >= BatchLength && HasRoom(s, s.lit, s.op)) {
        const BatchMasks m = ClassifyBatch(s.literalCodes, s.matchCodes);
        std::uint32_t done;
        if (HasZeroDistance(offsets.high + offsets.taken, offsets.low + offsets.taken) ||
            ExtendedCount(m.extended) > Left(s.matchExtras)) {
            if (!ReplaySequence<true, false>(s, offsets)) return Status::Corrupt;
            done = 1;
        } else {
            const bool far = std::size_t(s.op - s.outBegin) >= FarOutput;
            if (ExtendedCount(m.extended) >= WideBatch) {
                done = far ? ReplayBatch<false, true>(s, offsets, m.careful, m.extended)
                           : ReplayBatch<true, true>(s, offsets, m.careful, m.extended);
            } else {
                done = far ? ReplayBatch<false, false>(s, offsets, m.careful, m.extended)
                           : ReplayBatch<true, false>(s, offsets, m.careful, m.extended);
            }
            if (done == 0) return Status::Corrupt;
        }
        left -= done;
    }
    // Greedy matches seldom reach the escape length.
    if (!ReplayCount<true>(s, offsets, left)) return Status::Corrupt;
    return FinishReplay(s, offsets, out);
}

}  // namespace orsk
