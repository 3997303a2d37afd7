// Sequence encoding shared by FAST, NORMAL and BETTER: literal-length and match-length
// codes with ExtraLength extensions, raw literals, and offset codes over RepCount
// recent-offset slots (new distance: code (d >> 8) + RepCount, low byte in OffsetLowBytes).
//
// Interface:
//   SequenceStreams<RepCount>  encoder side: Begin() reserves the 17-byte header, then
//                              EmitSequence(literals, n, length, distance) per sequence,
//                              then FinishSequenceBlock() writes sections and header.
//   DecodeSequences<RepCount>  decoder side: the checked token loop over BlockStreams.
//   Stream indices (SequenceSection) are the section order of the block. Matches are
//   replayed with CopyMatch (codecs/common/match_copy.h).
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/bytes.h"
#include "base/format.h"
#include "codecs/common/block_finisher.h"
#include "codecs/common/extra_length.h"
#include "codecs/common/match_copy.h"
#include "codecs/common/match_length.h"
#include "codecs/common/recent_offsets.h"
#include "codecs/common/sequence_sections.h"
#include "container/blocks/block_header.h"
#include "container/blocks/sections.h"
#include "container/blocks/workspace.h"

namespace orsk {

// No stream outgrows its chunk (a sequence writes one code byte per covered byte at
// most, three extra bytes only for 15 or more), and literal runs are appended 16 bytes
// at a time: up to 15 bytes past the last one.
static_assert(StreamBufferSize >= MaxChunkLength + 15);

// Which streams a level may entropy-code (the code pair and both extras always may).
struct SectionRules {
    bool codeOffsets = false;
    bool codeLiterals = false;
    double literalEntropyLimit = 0.0;  // literals coded only at or below this estimate
};

template <int RepCount>
struct SequenceStreams {
    static_assert(RepCount >= 1 && RepCount <= 5);
    // Largest distance whose new-distance code (d >> 8) + RepCount still fits a byte.
    static constexpr std::uint32_t MaxDistance = ((255u - RepCount) << 8) | 0xFFu;
    using S = SequenceSection;

    std::uint8_t* begin[SequenceSection::Count] = {};
    std::uint8_t* at[SequenceSection::Count] = {};
    ByteSink offsetLow;  // inside the block, right behind its header
    RecentOffsets<RepCount> rep;
    std::uint32_t sequenceCount = 0;
    bool lowOverflow = false;  // the block had no room for another OffsetLowBytes entry

    // Reserves the header at block.at; NoRoom when the block cannot hold it.
    [[nodiscard]] Status Begin(EncoderScratch& scratch, const ByteSink& block) {
        if (Room(block) < CompressedHeaderLength) return Status::NoRoom;
        for (int i = 0; i < S::Count; ++i) begin[i] = at[i] = scratch.stream[i];
        offsetLow = {block.at + CompressedHeaderLength, block.at + CompressedHeaderLength, block.end};
        rep = {};
        sequenceCount = 0;
        lowOverflow = false;
        return Status::Ok;
    }

    std::size_t Length(int stream) const { return std::size_t(at[stream] - begin[stream]); }

    // One sequence: n literal bytes, then a match of `length` (>= 4) at `distance`
    // (1..MaxDistance), or no match when length is 0. `literals` must be followed by 15
    // readable bytes (the chunk's InputSlack): runs are appended 16 bytes at a time, and
    // each stream buffer has that much room beyond one chunk.
    void EmitSequence(const std::uint8_t* literals, std::uint32_t n, std::uint32_t length,
                      std::uint32_t distance) {
        ++sequenceCount;
        if (n < LengthEscapeCode) {
            *at[S::LiteralLengthCodes]++ = std::uint8_t(n);
        } else {
            *at[S::LiteralLengthCodes]++ = std::uint8_t(LengthEscapeCode);
            ExtraLength::Put(at[S::LiteralLengthExtras], n - LengthEscapeCode);
        }
        if (length < LengthEscapeCode) {
            *at[S::MatchLengthCodes]++ = std::uint8_t(length);
        } else {
            *at[S::MatchLengthCodes]++ = std::uint8_t(LengthEscapeCode);
            ExtraLength::Put(at[S::MatchLengthExtras], length - LengthEscapeCode);
        }
        if (n != 0) CopyWide16(at[S::Literals], literals, n);
        at[S::Literals] += n;
        if (length != 0) PutOffset(distance);
    }

private:
    // A recent slot's code, or (d >> 8) + RepCount and the low byte for a new distance.
    void PutOffset(std::uint32_t d) {
        const unsigned k = rep.Use(d);
        if (k != rep.NewDistance) {
            *at[S::OffsetCodes]++ = std::uint8_t(k);
            return;
        }
        *at[S::OffsetCodes]++ = std::uint8_t((d >> 8) + RepCount);
        if (offsetLow.at != offsetLow.end) {
            *offsetLow.at++ = std::uint8_t(d);
        } else {
            lowOverflow = true;
        }
    }
};

// Writes the six sections behind the OffsetLowBytes, then the header; on Ok `block.at`
// is the block's end. NoRoom when anything did not fit.
template <int RepCount>
[[nodiscard]] Status FinishSequenceBlock(ByteSink& block, const SequenceStreams<RepCount>& s,
                                         std::uint32_t chunkLength, const SectionRules& rules, HeaderOrder order) {
    if (s.lowOverflow) return Status::NoRoom;
    using S = SequenceSection;
    const std::uint8_t* const* b = s.begin;
    const SectionSource sections[S::Count] = {
        {b[S::LiteralLengthCodes], s.sequenceCount, SectionForm::Codable},
        {b[S::MatchLengthCodes], s.sequenceCount, SectionForm::Codable},
        {b[S::LiteralLengthExtras], s.Length(S::LiteralLengthExtras), SectionForm::Codable},
        {b[S::MatchLengthExtras], s.Length(S::MatchLengthExtras), SectionForm::Codable},
        {b[S::OffsetCodes], s.Length(S::OffsetCodes), rules.codeOffsets ? SectionForm::Codable : SectionForm::Raw},
        {b[S::Literals], s.Length(S::Literals), rules.codeLiterals ? SectionForm::Literals : SectionForm::Raw,
         rules.literalEntropyLimit},
    };
    return FinishBlock(block, s.offsetLow.at, sections, order, {s.sequenceCount, chunkLength});
}

// The token loop of levels 2 to 4 with every limit checked once per sequence. `out`
// runs from the chunk's start to its end with CopySlack writable bytes behind it; every
// cursor in `in` may be read StreamReadSlack bytes past its end. On Ok the chunk is
// complete (out.at == out.end) and every stream was consumed exactly.
template <int RepCount>
[[nodiscard]] Status DecodeSequences(const BlockStreams& in, ByteSink& out) {
    static_assert(CopySlack >= 16 && StreamReadSlack >= 16);  // one 16-byte step over
    using S = SequenceSection;
    const std::uint32_t count = in.sequenceCount;
    // One code byte of each kind per sequence.
    if (Left(in.stream[S::LiteralLengthCodes]) != count || Left(in.stream[S::MatchLengthCodes]) != count) {
        return Status::Corrupt;
    }
    const std::uint8_t* const litCodes = in.stream[S::LiteralLengthCodes].at;
    const std::uint8_t* const matchCodes = in.stream[S::MatchLengthCodes].at;
    ByteCursor litExtras = in.stream[S::LiteralLengthExtras];
    ByteCursor matchExtras = in.stream[S::MatchLengthExtras];
    const std::uint8_t* offsetAt = in.stream[S::OffsetCodes].at;
    const std::uint8_t* const offsetEnd = in.stream[S::OffsetCodes].end;
    const std::uint8_t* lit = in.stream[S::Literals].at;
    const std::uint8_t* const litEnd = in.stream[S::Literals].end;
    const std::uint8_t* lowAt = in.offsetLow.at;
    const std::uint8_t* const lowEnd = in.offsetLow.end;
    std::uint8_t* const outBegin = out.begin;
    std::uint8_t* const outEnd = out.end;
    std::uint8_t* o = out.at;
    RecentSlots<RepCount> rep;

    for (std::uint32_t i = 0; i < count; ++i) {
        std::uint32_t n = litCodes[i];
        std::uint32_t length = matchCodes[i];
        // An extension is read first and its end tested after: the cursor starts at or
        // before its end, and the read slack covers the 3 bytes read from there.
        // Codes above the escape are never written.
        if (n >= LengthEscapeCode) [[unlikely]] {
            if (n != LengthEscapeCode) return Status::Corrupt;
            n = LengthEscapeCode + ExtraLength::Take(litExtras);
            if (litExtras.at > litExtras.end) return Status::Corrupt;
        }
        if (length >= LengthEscapeCode) [[unlikely]] {
            if (length != LengthEscapeCode) return Status::Corrupt;
            length = LengthEscapeCode + ExtraLength::Take(matchExtras);
            if (matchExtras.at > matchExtras.end) return Status::Corrupt;
        }
        if (n > std::size_t(litEnd - lit) || std::size_t(n) + length > std::size_t(outEnd - o)) {
            return Status::Corrupt;
        }
        // Both sides have 16 bytes of slack (checked above against their true ends).
        CopyWide16(o, lit, n);
        o += n;
        lit += n;
        if (length == 0) [[unlikely]] continue;

        if (offsetAt == offsetEnd) return Status::Corrupt;
        const std::uint32_t code = *offsetAt++;
        std::uint32_t d;
        if (code < std::uint32_t(RepCount)) {
            d = rep.Take(code);
        } else {
            if (lowAt == lowEnd) return Status::Corrupt;
            d = ((code - RepCount) << 8) | *lowAt++;
            rep.Push(d);
        }
        // 1 <= d <= bytes written (an empty slot's 0 wraps around and fails too).
        if (d - 1 >= std::size_t(o - outBegin)) return Status::Corrupt;
        // o + length <= outEnd was checked with the literals; CopyMatch overruns by at
        // most CopyMatchOverrun bytes, inside CopySlack.
        CopyMatch(o, d, length);
        o += length;
    }
    if (o != outEnd || litExtras.at != litExtras.end || matchExtras.at != matchExtras.end ||
        offsetAt != offsetEnd || lit != litEnd || lowAt != lowEnd) {
        return Status::Corrupt;
    }
    out.at = o;
    return Status::Ok;
}

}  // namespace orsk
