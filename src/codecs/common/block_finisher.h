// The last step of every level's compressor: its streams become the block's sections,
// each by the rule the level gives it, and the header is written once the block's
// length is known.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "base/bytes.h"
#include "base/format.h"
#include "container/blocks/block_header.h"

namespace orsk {

// The rule that makes a stream its section. An empty stream is SectionEmpty by all three.
enum class SectionForm : std::uint8_t {
    Raw,       // raw
    Codable,   // coded from MinCodedLength bytes on, raw below
    Literals,  // as Codable, but coded only when its entropy estimate is at most the limit
};

struct SectionSource {
    const std::uint8_t* data;
    std::size_t length;
    SectionForm form;
    double literalEntropyLimit = 0.0;  // SectionForm::Literals only
};

// What the header says besides the lengths the finisher measures.
struct BlockCounts {
    std::uint32_t sequenceCount;
    std::uint32_t chunkLength;
};

// Completes the block whose header starts at block.at and whose OffsetLowBytes run from
// the header's end to lowEnd: the sections in order behind them, then the header in
// `order`. On Ok block.at is the block's end; NoRoom when a section did not fit.
[[nodiscard]] Status FinishBlock(ByteSink& block, std::uint8_t* lowEnd, std::span<const SectionSource> sections,
                                 HeaderOrder order, BlockCounts counts);

}  // namespace orsk
