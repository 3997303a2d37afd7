// The parse of levels 4 and 5: recent offsets tried before the hash chain, a one-step
// lazy look, and the positions inside lazily found matches added to the chains.
#pragma once

#include <cstdint>

#include "codecs/better/recent_probe.h"
#include "codecs/fast/match_finder.h"

namespace orsk {

// Adds the positions inside a match emitted after a lazy look: pos + 2 up to, not
// including, pos + min(length, 255). pos + 1 was inserted by the lazy look itself.
template <int Lanes>
inline void InsertCoveredPositions(ChainFinder<Lanes>& f, std::uint32_t pos, std::uint32_t length) {
    const std::uint32_t end = pos + (length < 255 ? length : 255);
    InsertPositions(f, pos + 2, end);
}

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
std::uint32_t ParseRecentFirst(ChainFinder<Lanes>& finder, std::uint32_t goodLength, const std::uint32_t (&rep)[Slots],
                               Emitter& emit) {
    // A local copy: the table stores below could otherwise alias the finder's fields.
    ChainFinder<Lanes> f = finder;
    const std::uint32_t n = f.n;
    const std::uint8_t* const chunk = f.chunk;
    // A step needs 10 bytes ahead of pos; chunks of 9 bytes or fewer run no step.
    const std::uint32_t stepEnd = n > 9 ? n - 9 : 0;
    std::uint32_t pos = 0;
    std::uint32_t pending = 0;  // literal run not yet emitted, ending just before pos
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
    while (pos < stepEnd) {
        // pos + 2 is the next step's lazy look, or the step after it.
        const std::uint32_t h2 = HashPosition(chunk + pos + 2);
        PrefetchHead(f, h2);
        const std::uint32_t cand = f.head[h];
        const std::uint32_t left = n - pos;
        const std::uint32_t limit = left < MaxMatchLength ? left : MaxMatchLength;
        // Length 0, or at least 4: a candidate needs 4 equal bytes.
        const Match recent = ProbeRecentOffsets(f, rep, pos, Match{});
        Match m = recent.length >= limit ? recent : SearchChainFrom(f, pos, cand, recent);
        InsertWithHead(f, pos, h, cand);
        // A chain match only one byte longer gives way to the recent offset.
        if (m.length == recent.length + 1) m = recent;
        if (m.length < 4) {
            if (++pending == MaxMatchLength) {
                emit.EmitLiterals(pos + 1 - pending, pending);
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
            emit.EmitMatch(start, pending, m);
            pending = 0;
            continue;
        }
        // The covered inserts start at pos + 2 whichever match wins below.
        const std::uint32_t ahead = m.length - 2;
        PrefetchHeads(f, pos + 2, ahead < InsertPrefetchDistance ? ahead : InsertPrefetchDistance);

        // Lazy look at pos + 1: what wins there must be longer than m after the same
        // preference for recent offsets. Its head is read after pos was inserted.
        const std::uint32_t next = pos + 1;
        const std::uint32_t nextLimit = left - 1 < MaxMatchLength ? left - 1 : MaxMatchLength;
        const std::uint32_t cand1 = f.head[h1];
        Match late = m;
        if (m.length < nextLimit) {
            // The pair the chain must beat: a longer recent-offset match at pos + 1, or
            // m. (A recent offset there exactly as long as m would only change the
            // pair's distance; the chain must beat m by two bytes either way.)
            const Match fallback = ProbeRecentOffsets(f, rep, next, m);
            late = fallback.length >= nextLimit ? fallback : SearchChainFrom(f, next, cand1, fallback);
            if (late.length == fallback.length + 1) late = fallback;
        }
        InsertWithHead(f, next, h1, cand1);
        const std::uint32_t matchStart = pos;
        if (late.length > m.length) {
            ++pending;  // the byte at pos joins the run
            jumpTo(next + late.length);
            InsertCoveredPositions(f, matchStart, late.length);
            emit.EmitMatch(next - pending, pending, late);
        } else {
            jumpTo(matchStart + m.length);
            InsertCoveredPositions(f, matchStart, m.length);
            emit.EmitMatch(matchStart - pending, pending, m);
        }
        pending = 0;
    }
    // Matches end at the chunk's end at the latest, so pos <= n.
    return pending + (n - pos);
}

}  // namespace orsk
