// The streams of a level 5 block as its compressors write them: one token per sequence
// joining its shape and offset class, whole lengths, and the finished block.
#pragma once

#include <cstdint>
#include <cstring>

#include "base/bytes.h"
#include "base/format.h"
#include "codecs/best/best.h"
#include "codecs/common/block_finisher.h"
#include "codecs/common/extra_length.h"
#include "codecs/common/hash_chain.h"
#include "codecs/common/match_copy.h"
#include "codecs/common/recent_offsets.h"
#include "container/blocks/block_header.h"
#include "container/blocks/workspace.h"

namespace orsk {

constexpr int BestRecentSlots = 6;
// Offset classes 0..5 name a recent slot, 6 a new distance.
constexpr unsigned NewDistanceClass = RecentOffsets<BestRecentSlots>::NewDistance;
constexpr std::uint8_t MatchOnlyTokenBase = 7;           // tokens 7..13: no literals
constexpr std::uint8_t LiteralOnlyToken = 14;
constexpr double BestLiteralEntropyLimit = 7.65;

// Literal runs move in 16-byte steps: up to 15 bytes are read past the chunk and
// written past the end of the literal stream.
static_assert(InputSlack >= 15 && StreamBufferSize >= MaxChunkLength + 15);

// The five buffered streams and the offset low bytes, appended in sequence order. No
// stream outgrows a chunk: a sequence covers at least one chunk byte per token, a
// one-byte length at least 1 byte (literals) or 4 (a match), a three-byte one at
// least 255, and each offset byte belongs to a match of at least 4.
struct BestStreams {
    const std::uint8_t* chunk;
    RecentOffsets<BestRecentSlots> rep;
    std::uint8_t* token;
    std::uint8_t* literalLength;
    std::uint8_t* matchLength;
    std::uint8_t* offsetHigh;
    std::uint8_t* offsetLow;
    std::uint8_t* literal;

    void AppendLiterals(std::uint32_t start, std::uint32_t count) {
        ExtraLength::Put(literalLength, count);
        CopyWide16(literal, chunk + start, count);
        literal += count;
    }

    void EmitLiterals(std::uint32_t start, std::uint32_t count) {
        *token++ = LiteralOnlyToken;
        AppendLiterals(start, count);
    }

    void EmitMatch(std::uint32_t start, std::uint32_t count, Match m) {
        const unsigned j = rep.Use(m.distance);
        if (j == NewDistanceClass) {
            *offsetHigh++ = std::uint8_t(m.distance >> 8);
            *offsetLow++ = std::uint8_t(m.distance);
        }
        if (count != 0) {
            *token++ = std::uint8_t(j);
            AppendLiterals(start, count);
        } else {
            *token++ = std::uint8_t(MatchOnlyTokenBase + j);
        }
        ExtraLength::Put(matchLength, m.length);
    }
};

// The streams at the start of the scratch's buffers.
inline BestStreams MakeBestStreams(EncoderScratch& scratch, const std::uint8_t* chunk) {
    return {chunk, {}, scratch.stream[0], scratch.stream[1], scratch.stream[2],
            scratch.stream[3], scratch.stream[4], scratch.stream[5]};
}

// Completes the block at block.at from the streams written into `s` since
// MakeBestStreams(scratch, ...): the OffsetLowBytes behind the header, the seven
// sections, then the header. NoRoom when it does not fit.
[[nodiscard]] inline Status FinishBestBlock(ByteSink& block, const BestStreams& s, const EncoderScratch& scratch,
                                            std::uint32_t n) {
    const std::uint8_t* const tokens = scratch.stream[0];
    const std::uint8_t* const literalLengths = scratch.stream[1];
    const std::uint8_t* const matchLengths = scratch.stream[2];
    const std::uint8_t* const offsetHigh = scratch.stream[3];
    const std::uint8_t* const offsetLow = scratch.stream[4];
    const std::uint8_t* const literals = scratch.stream[5];
    const std::size_t sequenceCount = std::size_t(s.token - tokens);
    const std::size_t lowCount = std::size_t(s.offsetLow - offsetLow);
    // The OffsetLowBytes go right behind the header, which is written last.
    if (Room(block) < CompressedHeaderLength + lowCount) return Status::NoRoom;
    std::uint8_t* const lowAt = block.at + CompressedHeaderLength;
    std::memcpy(lowAt, offsetLow, lowCount);

    const SectionSource sections[BestSection::Count] = {
        {tokens, sequenceCount, SectionForm::Codable},
        {nullptr, 0, SectionForm::Raw},  // reserved, empty
        {nullptr, 0, SectionForm::Raw},  // reserved, empty
        {literalLengths, std::size_t(s.literalLength - literalLengths), SectionForm::Codable},
        {matchLengths, std::size_t(s.matchLength - matchLengths), SectionForm::Codable},
        {offsetHigh, lowCount, SectionForm::Codable},
        {literals, std::size_t(s.literal - literals), SectionForm::Literals, BestLiteralEntropyLimit},
    };
    return FinishBlock(block, lowAt + lowCount, sections, HeaderOrder::A, {std::uint32_t(sequenceCount), n});
}

}  // namespace orsk
