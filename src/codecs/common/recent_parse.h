// The parse of levels 4 and 5: recent offsets tried before the hash chain, a one-step
// lazy look, and the positions inside lazily found matches added to the chains.
#pragma once

#include <cstdint>

#include "codecs/common/hash_chain.h"
#include "codecs/common/recent_probe.h"
#include "codecs/common/unsearched_tail.h"

namespace orsk {

// Parses f.chunk[0..f.n) into sequences and hands them to `emit`:
//   emit.EmitMatch(litStart, litCount, match)  literals chunk[litStart, +litCount), then a match
//   emit.EmitLiterals(litStart, litCount)      a literal-only sequence (a run of 65,535)
// `emit` updates the recent-offset slots `rep` for every match it is given; the probes
// read them. The chain heads must read empty. Returns the number of bytes at the
// chunk's end that no sequence covers yet; the caller writes them as its final
// literal-only sequence(s).
//
// The shortcuts below skip only searches whose result is already fixed: a search
// starting from a match as long as its length limit cannot improve it, and a lazy look
// from a match at least as long as the next position's limit cannot win.
template <int Lanes, int Slots, class Emitter>
std::uint32_t ParseRecentFirst(ChainFinder<Lanes>& finder, std::uint32_t goodLength, const RecentOffsets<Slots>& rep,
                               Emitter& emit) {
    // A local copy: the table stores below could otherwise alias the finder's fields.
    ChainFinder<Lanes> f = finder;
    const std::uint32_t n = f.n;
    // Chunks of UnsearchedTail bytes or fewer run no step.
    const std::uint32_t stepEnd = SearchEnd(n);
    LazyCursor c;
    c.JumpTo(f, 0);
    const std::uint32_t& pos = c.pos;
    std::uint32_t pending = 0;  // literal run not yet emitted, ending just before pos
    while (pos < stepEnd) {
        c.RequestAhead(f);
        const std::uint32_t cand = f.head[c.h];
        const std::uint32_t limit = MatchLimit(n, pos);
        // Length 0, or at least 4: a candidate needs 4 equal bytes.
        const Match recent = ProbeRecentOffsets(f, rep, pos, Match{});
        Match m = recent.length >= limit ? recent : SearchChainFrom(f, pos, cand, recent);
        InsertWithHead(f, pos, c.h, cand);
        // A chain match only one byte longer gives way to the recent offset.
        if (m.length == recent.length + 1) m = recent;
        if (m.length < MinMatchLength) {
            if (++pending == MaxLiteralRun) {
                emit.EmitLiterals(pos + 1 - pending, pending);
                pending = 0;
            }
            c.StepOne();
            continue;
        }
        if (m.length >= goodLength) {
            const std::uint32_t start = pos - pending;
            c.JumpTo(f, pos + m.length);
            emit.EmitMatch(start, pending, m);
            pending = 0;
            continue;
        }
        PrefetchCoveredHeads(f, pos, m.length);

        // Lazy look at pos + 1: what wins there must be longer than m after the same
        // preference for recent offsets. Its head is read after pos was inserted.
        const std::uint32_t next = pos + 1;
        const std::uint32_t nextLimit = MatchLimit(n, next);
        const std::uint32_t cand1 = f.head[c.h1];
        Match late = m;
        if (m.length < nextLimit) {
            // The pair the chain must beat: a longer recent-offset match at pos + 1, or
            // m. (A recent offset there exactly as long as m would only change the
            // pair's distance; the chain must beat m by two bytes either way.)
            const Match fallback = ProbeRecentOffsets(f, rep, next, m);
            late = fallback.length >= nextLimit ? fallback : SearchChainFrom(f, next, cand1, fallback);
            if (late.length == fallback.length + 1) late = fallback;
        }
        InsertWithHead(f, next, c.h1, cand1);
        const std::uint32_t matchStart = pos;
        if (late.length > m.length) {
            ++pending;  // the byte at pos joins the run
            c.JumpTo(f, next + late.length);
            InsertCoveredPositions(f, matchStart, late.length);
            emit.EmitMatch(next - pending, pending, late);
        } else {
            c.JumpTo(f, matchStart + m.length);
            InsertCoveredPositions(f, matchStart, m.length);
            emit.EmitMatch(matchStart - pending, pending, m);
        }
        pending = 0;
    }
    // Matches end at the chunk's end at the latest, so pos <= n.
    return pending + (n - pos);
}

}  // namespace orsk
