// The stream sections of a level 0 to 4 block, in the order the block holds them: also
// the index into BlockStreams::stream and into a compressor's stream buffers.
#pragma once

#include "container/blocks/sections.h"
#include "container/blocks/workspace.h"

namespace orsk {

struct SequenceSection {
    enum : int {
        LiteralLengthCodes = 0,  // one code per sequence, 15 for an extension
        MatchLengthCodes,        // one code per sequence, 0 for none, 15 for an extension
        LiteralLengthExtras,
        MatchLengthExtras,
        OffsetCodes,             // level 0: each distance >> 8; levels 1 to 4: offset codes
        Literals,
        Count,
    };
};
static_assert(SequenceSection::Count == EncoderStreamCount && SequenceSection::Count <= MaxSections);

}  // namespace orsk
