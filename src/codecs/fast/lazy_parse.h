// The greedy parse with a one-position lazy look of FAST and NORMAL, over the hash-chain
// match finder; the two levels differ only in whether positions inside a match are
// inserted and in their settings.
#pragma once

#include <cstdint>

#include "codecs/fast/match_finder.h"
#include "codecs/fast/sequence_coder.h"

namespace orsk {

// Matches need 4 equal bytes; the step loop stops this far before the chunk's end.
constexpr std::uint32_t MinMatchLength = 4;
constexpr std::uint32_t ParseTailLength = 9;
// NORMAL inserts the positions of a match up to this length after its start.
constexpr std::uint32_t CoveredInsertLimit = 255;

// Parses f.chunk[0..f.n) into `streams`. The finder's heads must be empty.
// InsertCovered: after a match found by a lazy look (or not), insert the positions from
// the step's pos + 2 up to pos + min(length, 255) - 1.
template <bool InsertCovered, int RepCount>
void ParseLazyChain(ChainFinder& f, std::uint32_t goodLength, SequenceStreams<RepCount>& streams) {
    const std::uint8_t* const chunk = f.chunk;
    const std::uint32_t n = f.n;
    std::uint32_t pos = 0;
    std::uint32_t pending = 0;  // literal bytes before pos not yet emitted
    // Invariant: pending <= 65534 at the top of the loop; a step needs 9 bytes behind it.
    while (n > ParseTailLength && pos < n - ParseTailLength) {
        const Match m = SearchChain(f, pos, Match{});
        InsertPosition(f, pos);
        if (m.length < MinMatchLength) {
            ++pending;
            if (pending == MaxMatchLength) {
                streams.EmitSequence(chunk + pos + 1 - pending, pending, 0, 0);
                pending = 0;
            }
            ++pos;
            continue;
        }
        if (m.length >= goodLength) {
            streams.EmitSequence(chunk + pos - pending, pending, m.length, m.distance);
            pending = 0;
            pos += m.length;
            continue;
        }
        // Only a strictly longer match at pos + 1 replaces the one at pos.
        const Match next = SearchChain(f, pos + 1, m);
        InsertPosition(f, pos + 1);
        const bool later = next.length > m.length;
        const Match& use = later ? next : m;
        if (later) ++pending;
        const std::uint32_t start = pos + (later ? 1 : 0);
        streams.EmitSequence(chunk + start - pending, pending, use.length, use.distance);
        pending = 0;
        if constexpr (InsertCovered) {
            const std::uint32_t last = pos + (use.length < CoveredInsertLimit ? use.length : CoveredInsertLimit) - 1;
            for (std::uint32_t q = pos + 2; q <= last; ++q) InsertPosition(f, q);
        }
        pos = start + use.length;
    }
    if (pos < n) pending += n - pos;
    // The last run may exceed 65535 by up to 8 bytes; ExtraLength still holds it.
    if (pending > 0) streams.EmitSequence(chunk + n - pending, pending, 0, 0);
}

}  // namespace orsk
