// The sequence layout levels 0 and 1 share: one literal-length and one match-length
// code per sequence, biased length extensions, raw literals. Writers for the parse and
// the bounded token loop that replays them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/bytes.h"
#include "base/format.h"
#include "codecs/common/block_finisher.h"
#include "codecs/common/extra_length.h"
#include "codecs/common/match_copy.h"
#include "codecs/common/match_length.h"
#include "codecs/common/sequence_sections.h"
#include "container/blocks/block_header.h"
#include "container/blocks/sections.h"
#include "container/blocks/workspace.h"

namespace orsk {

// Literal runs move in 16-byte steps: up to 15 bytes are read past the run in the
// chunk and written past the end of the literal stream.
static_assert(StreamBufferSize >= MaxChunkLength + 15 && InputSlack >= 15);

// Write positions in the compressor's stream buffers (StreamBufferSize each). Every
// sequence covers at least one chunk byte and writes at most one byte per covered byte
// to each stream, so no stream outgrows the chunk; literal appends may run 15 bytes
// further, which the buffers' tail absorbs.
struct SequenceWriter {
    std::uint8_t* literalCodes;
    std::uint8_t* matchCodes;
    std::uint8_t* literalExtras;
    std::uint8_t* matchExtras;
    std::uint8_t* literals;
};

// The literal-length code, its extension and the run's bytes (read from the chunk,
// which has InputSlack readable bytes behind it for the 16-byte steps).
inline void PutLiteralRun(SequenceWriter& w, const std::uint8_t* run, std::uint32_t length) {
    if (length < LengthEscapeCode) {
        *w.literalCodes++ = std::uint8_t(length);
    } else {
        *w.literalCodes++ = std::uint8_t(LengthEscapeCode);
        BiasedExtraLength::Put(w.literalExtras, length - LengthEscapeCode);
    }
    CopyWide16(w.literals, run, length);
    w.literals += length;
}

// The match-length code (0 for a sequence without a match) and its extension.
inline void PutMatchLength(SequenceWriter& w, std::uint32_t length) {
    if (length < LengthEscapeCode) {
        *w.matchCodes++ = std::uint8_t(length);
    } else {
        *w.matchCodes++ = std::uint8_t(LengthEscapeCode);
        BiasedExtraLength::Put(w.matchExtras, length - LengthEscapeCode);
    }
}

// A sequence without a match: the run and a match-length code of 0.
inline void PutLiteralOnly(SequenceWriter& w, const std::uint8_t* run, std::uint32_t length) {
    PutLiteralRun(w, run, length);
    PutMatchLength(w, 0);
}

// The writer over a compressor's stream buffers, each at its start.
inline SequenceWriter MakeSequenceWriter(const EncoderScratch& scratch) {
    using S = SequenceSection;
    return {scratch.stream[S::LiteralLengthCodes], scratch.stream[S::MatchLengthCodes],
            scratch.stream[S::LiteralLengthExtras], scratch.stream[S::MatchLengthExtras], scratch.stream[S::Literals]};
}

// The literals of a one-slot parse not yet in a sequence, [anchor, pos), cut into
// literal-only sequences of exactly MaxLiteralRun bytes while the run grows.
struct PendingLiterals {
    std::uint32_t anchor = 0;
    std::uint32_t runLast = MaxLiteralRun - 1;  // a literal step here completes a run

    // The run starts afresh at p (after a sequence that ends there).
    void RestartAt(std::uint32_t p) {
        anchor = p;
        runLast = p + MaxLiteralRun - 1;
    }
    // After a literal step at pos: a run that pos completes (positions pos - 65534 ..
    // pos) becomes a literal-only sequence.
    void AfterLiteral(SequenceWriter& w, const std::uint8_t* chunk, std::uint32_t pos) {
        if (pos == runLast) [[unlikely]] {
            PutLiteralOnly(w, chunk + anchor, MaxLiteralRun);
            RestartAt(pos + 1);
        }
    }
    // The tail from anchor to the chunk's end (at most 65,534 + 9 bytes) as the final
    // literal-only sequence, if there is one.
    void Finish(SequenceWriter& w, const std::uint8_t* chunk, std::uint32_t size) const {
        if (anchor != size) PutLiteralOnly(w, chunk + anchor, size - anchor);
    }
};

// Completes a block whose header starts at block.at and whose OffsetLowBytes end at
// `lowAt`: the six sections from the scratch streams (the offset stream ends at
// `offsetsEnd`), then the header. Every sequence wrote one literal-length code, so
// those codes count the sequences. The two code streams may be coded when
// `codeLengths`; the rest stay raw. Advances block.at on Ok only.
[[nodiscard]] inline Status FinishSingleSlotBlock(ByteSink& block, std::uint8_t* lowAt, const EncoderScratch& scratch,
                                                  const SequenceWriter& w, const std::uint8_t* offsetsEnd,
                                                  std::uint32_t chunkLength, bool codeLengths) {
    using S = SequenceSection;
    const std::uint8_t* const* s = scratch.stream;
    const std::size_t sequenceCount = std::size_t(w.literalCodes - s[S::LiteralLengthCodes]);
    const SectionForm codes = codeLengths ? SectionForm::Codable : SectionForm::Raw;
    const SectionSource sections[S::Count] = {
        {s[S::LiteralLengthCodes], sequenceCount, codes},
        {s[S::MatchLengthCodes], sequenceCount, codes},
        {s[S::LiteralLengthExtras], std::size_t(w.literalExtras - s[S::LiteralLengthExtras]), SectionForm::Raw},
        {s[S::MatchLengthExtras], std::size_t(w.matchExtras - s[S::MatchLengthExtras]), SectionForm::Raw},
        {s[S::OffsetCodes], std::size_t(offsetsEnd - s[S::OffsetCodes]), SectionForm::Raw},
        {s[S::Literals], std::size_t(w.literals - s[S::Literals]), SectionForm::Raw},
    };
    return FinishBlock(block, lowAt, sections, HeaderOrder::A, {std::uint32_t(sequenceCount), chunkLength});
}

// Literal copies overrun by up to 15 bytes on both sides; CopyMatch by its own margin.
static_assert(StreamReadSlack >= 15 && CopySlack >= 15);

// What the token loop carries from one sequence to the next.
struct ReplayState {
    const std::uint8_t* literalCodes;
    const std::uint8_t* matchCodes;
    ByteCursor literalExtras;
    ByteCursor matchExtras;
    const std::uint8_t* lit;
    const std::uint8_t* litEnd;
    std::uint8_t* outBegin;
    std::uint8_t* outEnd;
    std::uint8_t* op;
};

// Replaces each escape code (15) by 15 plus its extension; false when one is missing
// or a code lies above the escape (no writer makes those).
[[nodiscard]] inline bool ReadEscapedLengths(ReplayState& s, std::size_t& literalCount, std::size_t& matchLength) {
    std::uint32_t extra;
    if (literalCount >= LengthEscapeCode) [[unlikely]] {
        if (literalCount != LengthEscapeCode || !BiasedExtraLength::Read(s.literalExtras, extra)) return false;
        literalCount = LengthEscapeCode + extra;
    }
    if (matchLength >= LengthEscapeCode) {
        if (matchLength != LengthEscapeCode || !BiasedExtraLength::Read(s.matchExtras, extra)) return false;
        matchLength = LengthEscapeCode + extra;
    }
    return true;
}

// Replays the next sequence; false when it breaks a limit. With Careful false the
// caller has made sure that the offset streams hold a distance for it. RareEscapes
// tests both codes for an escape at once, which pays when few sequences have one.
template <bool RareEscapes, bool Careful, class Offsets>
[[nodiscard]] inline bool ReplayCodes(ReplayState& s, std::size_t literalCount, std::size_t matchLength,
                                      Offsets& offsets);

template <bool RareEscapes, bool Careful, class Offsets>
[[nodiscard]] inline bool ReplaySequence(ReplayState& s, Offsets& offsets) {
    // Both code streams hold one byte per sequence (checked before the loop).
    const std::size_t literalCount = *s.literalCodes++;
    const std::size_t matchLength = *s.matchCodes++;
    return ReplayCodes<RareEscapes, Careful>(s, literalCount, matchLength, offsets);
}

// The same, for a sequence whose codes the caller has read.
template <bool RareEscapes, bool Careful, class Offsets>
[[nodiscard]] inline bool ReplayCodes(ReplayState& s, std::size_t literalCount, std::size_t matchLength,
                                      Offsets& offsets) {
    if (RareEscapes) {
        // Either code 15 (then the code plus one reaches 16): one test for both.
        if (((literalCount + 1) | (matchLength + 1)) >= 16) [[unlikely]] {
            if (!ReadEscapedLengths(s, literalCount, matchLength)) return false;
        }
    } else if (!ReadEscapedLengths(s, literalCount, matchLength)) {
        return false;
    }
    if (literalCount > std::size_t(s.litEnd - s.lit) || literalCount + matchLength > std::size_t(s.outEnd - s.op)) {
        return false;
    }
    // The literal stream is readable StreamReadSlack bytes past its end and the
    // output writable CopySlack bytes past outEnd, so 16-byte steps may overrun;
    // one step covers every run a code alone gives.
    CopyWide16(s.op, s.lit, 16);
    if (literalCount > 16) [[unlikely]] CopyWide16(s.op + 16, s.lit + 16, literalCount - 16);
    s.lit += literalCount;
    s.op += literalCount;
    if (matchLength != 0) [[likely]] {
        const std::uint32_t distance = offsets.template Next<Careful>();
        // Distance 0 (an exhausted stream in the checked form, or an empty slot)
        // wraps around and fails the same test.
        if (std::size_t(distance) - 1 >= std::size_t(s.op - s.outBegin)) return false;
        CopyMatch(s.op, distance, matchLength);
        s.op += matchLength;
    }
    return true;
}

// The token loop's state at the start of a block; false unless both code streams hold
// exactly one byte per sequence.
[[nodiscard]] inline bool StartReplay(const BlockStreams& in, const ByteSink& out, ReplayState& s) {
    using S = SequenceSection;
    const std::uint32_t count = in.sequenceCount;
    if (Left(in.stream[S::LiteralLengthCodes]) != count || Left(in.stream[S::MatchLengthCodes]) != count) {
        return false;
    }
    s = {in.stream[S::LiteralLengthCodes].at,
         in.stream[S::MatchLengthCodes].at,
         in.stream[S::LiteralLengthExtras],
         in.stream[S::MatchLengthExtras],
         in.stream[S::Literals].at,
         in.stream[S::Literals].end,
         out.begin,
         out.end,
         out.at};
    return true;
}

// Replays the next `count` sequences. `offsets` supplies each match's distance:
// Next<true> returns 0 when its streams are exhausted; Next<false> reads without
// checks, and Unchecked() tells for how many sequences from here that is safe (each
// takes at most one byte from each offset stream). RareEscapes as for ReplaySequence.
template <bool RareEscapes, class Offsets>
[[nodiscard]] inline bool ReplayCount(ReplayState& s, Offsets& offsets, std::uint32_t count) {
    const std::size_t unchecked = offsets.Unchecked();
    const std::uint32_t fastCount = unchecked < count ? std::uint32_t(unchecked) : count;
    for (std::uint32_t k = fastCount; k != 0; --k) {
        if (!ReplaySequence<RareEscapes, false>(s, offsets)) return false;
    }
    for (std::uint32_t k = count - fastCount; k != 0; --k) {
        if (!ReplaySequence<RareEscapes, true>(s, offsets)) return false;
    }
    return true;
}

// Ok when every sequence has been replayed and each stream consumed exactly (Finished
// tells that of the offset streams); then out.at moves to the end of what was restored.
template <class Offsets>
[[nodiscard]] inline Status FinishReplay(const ReplayState& s, const Offsets& offsets, ByteSink& out) {
    if (s.op != s.outEnd || s.lit != s.litEnd || s.literalExtras.at != s.literalExtras.end ||
        s.matchExtras.at != s.matchExtras.end || !offsets.Finished()) {
        return Status::Corrupt;
    }
    out.at = s.op;
    return Status::Ok;
}

// Replays in.sequenceCount sequences into out, as ReplayCount describes.
template <bool RareEscapes, class Offsets>
[[nodiscard]] inline Status ReplaySequences(const BlockStreams& in, ByteSink& out, Offsets& offsets) {
    ReplayState s;
    if (!StartReplay(in, out, s) || !ReplayCount<RareEscapes>(s, offsets, in.sequenceCount)) return Status::Corrupt;
    return FinishReplay(s, offsets, out);
}

}  // namespace orsk
