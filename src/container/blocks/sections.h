// Writing and reading the stream sections of a compressed block: empty, raw or coded,
// chosen by the level's rule for each stream. Shared by every level's codec.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/bytes.h"
#include "base/format.h"
#include "entropy/stream_coder.h"

namespace orsk {

constexpr std::uint8_t SectionEmpty = 0;
constexpr std::uint8_t SectionRaw = 1;
constexpr std::uint8_t SectionCoded = 2;

// Empty stream: SectionEmpty; otherwise raw.
[[nodiscard]] Status WriteRawSection(ByteSink& block, const std::uint8_t* data, std::size_t n);
// Empty: SectionEmpty; 1..2047 bytes: raw; 2048 or more: coded (when mayCode).
[[nodiscard]] Status WriteStreamSection(ByteSink& block, const std::uint8_t* data, std::size_t n, bool mayCode);
// Literals: coded only when 2048 bytes or more and the entropy estimate of the whole
// stream is at most `entropyLimit`.
[[nodiscard]] Status WriteLiteralSection(ByteSink& block, const std::uint8_t* data, std::size_t n,
                                         double entropyLimit);

// Stream buffers the unpacker decodes coded sections into; each holds
// MaxStreamLength + SectionSlack bytes.
constexpr int MaxSections = 7;
struct DecodeBuffers {
    std::uint8_t* stream[MaxSections] = {};
    StreamDecodeTables* tables = nullptr;  // allocated with the buffers
};

// What a level's token loop reads. Every cursor may be read StreamReadSlack bytes past
// its end (raw sections point into the block, which the framing guarantees is followed
// by that much readable memory; absent streams point at a zero area).
struct BlockStreams {
    std::uint32_t sequenceCount = 0;
    ByteCursor offsetLow;
    ByteCursor stream[MaxSections];
};

// Unpacks `count` sections from `payload` in order; the sections must end exactly at
// the payload's end.
[[nodiscard]] Status UnpackSections(ByteCursor payload, int count, DecodeBuffers& buffers, BlockStreams& out);

}  // namespace orsk
