// The greedy parse with a one-position lazy look of FAST and NORMAL, over the hash-chain
// match finder; the two levels differ only in whether positions inside a match are
// inserted and in their settings.
#pragma once

#include <cstdint>

#include "codecs/common/hash_chain.h"
#include "codecs/common/sequence_coder.h"
#include "codecs/common/unsearched_tail.h"

namespace orsk {

// Parses f.chunk[0..f.n) into `streams`. The finder's heads must read empty.
// InsertCovered: after a match found by a lazy look (or not), insert the positions it
// covers (InsertCoveredPositions).
template <bool InsertCovered, int Lanes, int RepCount>
void ParseLazyChain(ChainFinder<Lanes>& finder, std::uint32_t goodLength, SequenceStreams<RepCount>& streams) {
    // A local copy: the table stores below could otherwise alias the finder's fields.
    ChainFinder<Lanes> f = finder;
    const std::uint8_t* const chunk = f.chunk;
    const std::uint32_t n = f.n;
    if (n <= UnsearchedTail) {
        if (n != 0) streams.EmitSequence(chunk, n, 0, 0);
        return;
    }
    const std::uint32_t stepEnd = n - UnsearchedTail;
    LazyCursor c;
    c.JumpTo(f, 0);
    const std::uint32_t& pos = c.pos;
    std::uint32_t pending = 0;  // literal bytes before pos not yet emitted
    // Invariant: pending <= 65534 at the top of the loop, and pos < n - UnsearchedTail.
    while (pos < stepEnd) {
        c.RequestAhead(f);
        const std::uint32_t cand = f.head[c.h];
        const Match m = SearchChainFrom(f, pos, cand, Match{});
        InsertWithHead(f, pos, c.h, cand);
        if (m.length < MinMatchLength) {
            ++pending;
            if (pending == MaxLiteralRun) {
                streams.EmitSequence(chunk + pos + 1 - pending, pending, 0, 0);
                pending = 0;
            }
            c.StepOne();
            continue;
        }
        if (m.length >= goodLength) {
            const std::uint32_t start = pos - pending;
            c.JumpTo(f, pos + m.length);
            streams.EmitSequence(chunk + start, pending, m.length, m.distance);
            pending = 0;
            continue;
        }
        if constexpr (InsertCovered) PrefetchCoveredHeads(f, pos, m.length);
        // Unless the lazy look wins, the parse goes on where m ends: request that
        // step's heads while the lazy look runs (JumpTo would request them only there).
        PrefetchHead(f, HashPosition(chunk + pos + m.length));
        PrefetchHead(f, HashPosition(chunk + pos + m.length + 1));
        // Only a strictly longer match at pos + 1 replaces the one at pos. Its head is
        // read after pos was inserted (both may share a hash).
        const std::uint32_t cand1 = f.head[c.h1];
        const Match next = SearchChainFrom(f, pos + 1, cand1, m);
        InsertWithHead(f, pos + 1, c.h1, cand1);
        const bool later = next.length > m.length;
        const Match use = later ? next : m;
        if (later) ++pending;
        const std::uint32_t start = pos + (later ? 1 : 0);
        const std::uint32_t literalStart = start - pending;
        const std::uint32_t matchStart = pos;
        c.JumpTo(f, start + use.length);
        if constexpr (InsertCovered) InsertCoveredPositions(f, matchStart, use.length);
        streams.EmitSequence(chunk + literalStart, pending, use.length, use.distance);
        pending = 0;
    }
    if (pos < n) pending += n - pos;
    // The last run may exceed 65535 by up to 8 bytes; ExtraLength still holds it.
    if (pending > 0) streams.EmitSequence(chunk + n - pending, pending, 0, 0);
}

}  // namespace orsk
