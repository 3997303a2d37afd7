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

// Parses f.chunk[0..f.n) into `streams`. The finder's heads must read empty.
// InsertCovered: after a match found by a lazy look (or not), insert the positions from
// the step's pos + 2 up to pos + min(length, 255) - 1.
template <bool InsertCovered, int Lanes, int RepCount>
void ParseLazyChain(ChainFinder<Lanes>& finder, std::uint32_t goodLength, SequenceStreams<RepCount>& streams) {
    // A local copy: the table stores below could otherwise alias the finder's fields.
    ChainFinder<Lanes> f = finder;
    const std::uint8_t* const chunk = f.chunk;
    const std::uint32_t n = f.n;
    if (n <= ParseTailLength) {
        if (n != 0) streams.EmitSequence(chunk, n, 0, 0);
        return;
    }
    const std::uint32_t stepEnd = n - ParseTailLength;
    std::uint32_t pos = 0;
    std::uint32_t pending = 0;  // literal bytes before pos not yet emitted
    // The hashes of pos and pos + 1, whose heads were requested ahead of their reads.
    // Hashes read 4 bytes at most at n + 4, inside the chunk's slack.
    std::uint32_t h = HashPosition(chunk);
    std::uint32_t h1 = HashPosition(chunk + 1);
    // Moves the parse to p, requesting the heads of its step and lazy look.
    auto jumpTo = [&](std::uint32_t p) {
        pos = p;
        h = HashPosition(chunk + p);
        h1 = HashPosition(chunk + p + 1);
        PrefetchHead(f, h);
        PrefetchHead(f, h1);
    };
    // Invariant: pending <= 65534 at the top of the loop; a step needs 9 bytes behind it.
    while (pos < stepEnd) {
        // pos + 2 is the next step's lazy look, or the step after it.
        const std::uint32_t h2 = HashPosition(chunk + pos + 2);
        PrefetchHead(f, h2);
        const std::uint32_t cand = f.head[h];
        const Match m = SearchChainFrom(f, pos, cand, Match{});
        InsertWithHead(f, pos, h, cand);
        if (m.length < MinMatchLength) {
            ++pending;
            if (pending == MaxMatchLength) {
                streams.EmitSequence(chunk + pos + 1 - pending, pending, 0, 0);
                pending = 0;
            }
            ++pos;
            h = h1;
            h1 = h2;
            continue;
        }
        if (m.length >= goodLength) {
            const std::uint32_t start = pos - pending;
            jumpTo(pos + m.length);
            streams.EmitSequence(chunk + start, pending, m.length, m.distance);
            pending = 0;
            continue;
        }
        if constexpr (InsertCovered) {
            // The covered inserts start at pos + 2 whichever match wins below.
            const std::uint32_t ahead = m.length - 2;
            PrefetchHeads(f, pos + 2, ahead < InsertPrefetchDistance ? ahead : InsertPrefetchDistance);
        }
        // Only a strictly longer match at pos + 1 replaces the one at pos. Its head is
        // read after pos was inserted (both may share a hash).
        const std::uint32_t cand1 = f.head[h1];
        const Match next = SearchChainFrom(f, pos + 1, cand1, m);
        InsertWithHead(f, pos + 1, h1, cand1);
        const bool later = next.length > m.length;
        const Match use = later ? next : m;
        if (later) ++pending;
        const std::uint32_t start = pos + (later ? 1 : 0);
        const std::uint32_t literalStart = start - pending;
        const std::uint32_t matchStart = pos;
        jumpTo(start + use.length);
        if constexpr (InsertCovered) {
            const std::uint32_t covered = use.length < CoveredInsertLimit ? use.length : CoveredInsertLimit;
            InsertPositions(f, matchStart + 2, matchStart + covered);
        }
        streams.EmitSequence(chunk + literalStart, pending, use.length, use.distance);
        pending = 0;
    }
    if (pos < n) pending += n - pos;
    // The last run may exceed 65535 by up to 8 bytes; ExtraLength still holds it.
    if (pending > 0) streams.EmitSequence(chunk + n - pending, pending, 0, 0);
}

}  // namespace orsk
