// The parse of levels 4 and 5: recent offsets tried before the hash chain, a one-step
// lazy look, and the positions inside lazily found matches added to the chains.
#pragma once

#include <cstdint>

#include "codecs/better/recent_probe.h"
#include "codecs/fast/match_finder.h"

namespace orsk {

// Adds the positions inside a match emitted after a lazy look: pos + 2 up to, not
// including, pos + min(length, 255). pos + 1 was inserted by the lazy look itself.
inline void InsertCoveredPositions(ChainFinder& f, std::uint32_t pos, std::uint32_t length) {
    const std::uint32_t end = pos + (length < 255 ? length : 255);
    for (std::uint32_t q = pos + 2; q < end; ++q) InsertPosition(f, q);
}

// Parses f.chunk[0..f.n) into sequences and hands them to `emit`:
//   emit.EmitMatch(litStart, litCount, match)  literals chunk[litStart, +litCount), then a match
//   emit.EmitLiterals(litStart, litCount)      a literal-only sequence (a run of 65,535)
// `emit` updates the recent-offset slots `rep` for every match it is given; the probes
// read them. The chain
// heads must be empty. Returns the number of bytes at the chunk's end that no sequence
// covers yet; the caller writes them as its final literal-only sequence(s).
//
// The shortcuts below skip only searches whose result is already fixed: a search
// starting from a match as long as its length limit cannot improve it, and a lazy look
// from a match at least as long as the next position's limit cannot win.
template <int Slots, class Emitter>
std::uint32_t ParseRecentFirst(ChainFinder& f, std::uint32_t goodLength, const std::uint32_t (&rep)[Slots],
                               Emitter& emit) {
    const std::uint32_t n = f.n;
    // A step needs 10 bytes ahead of pos; chunks of 9 bytes or fewer run no step.
    const std::uint32_t stepEnd = n > 9 ? n - 9 : 0;
    std::uint32_t pos = 0;
    std::uint32_t pending = 0;  // literal run not yet emitted, ending just before pos
    while (pos < stepEnd) {
        const std::uint32_t left = n - pos;
        const std::uint32_t limit = left < MaxMatchLength ? left : MaxMatchLength;
        // Length 0, or at least 4: a candidate needs 4 equal bytes.
        const Match recent = ProbeRecentOffsets(f, rep, pos, Match{});
        Match m = recent.length >= limit ? recent : SearchChain(f, pos, recent);
        InsertPosition(f, pos);
        // A chain match only one byte longer gives way to the recent offset.
        if (m.length == recent.length + 1) m = recent;
        if (m.length < 4) {
            if (++pending == MaxMatchLength) {
                emit.EmitLiterals(pos + 1 - pending, pending);
                pending = 0;
            }
            ++pos;
            continue;
        }
        if (m.length >= goodLength) {
            emit.EmitMatch(pos - pending, pending, m);
            pending = 0;
            pos += m.length;
            continue;
        }

        // Lazy look at pos + 1: what wins there must be longer than m after the same
        // preference for recent offsets.
        const std::uint32_t next = pos + 1;
        const std::uint32_t nextLimit = left - 1 < MaxMatchLength ? left - 1 : MaxMatchLength;
        Match late = m;
        if (m.length < nextLimit) {
            // The pair the chain must beat: a longer recent-offset match at pos + 1, or
            // m. (A recent offset there exactly as long as m would only change the
            // pair's distance; the chain must beat m by two bytes either way.)
            const Match fallback = ProbeRecentOffsets(f, rep, next, m);
            late = fallback.length >= nextLimit ? fallback : SearchChain(f, next, fallback);
            if (late.length == fallback.length + 1) late = fallback;
        }
        InsertPosition(f, next);
        if (late.length > m.length) {
            ++pending;  // the byte at pos joins the run
            emit.EmitMatch(next - pending, pending, late);
            InsertCoveredPositions(f, pos, late.length);
            pos = next + late.length;
        } else {
            emit.EmitMatch(pos - pending, pending, m);
            InsertCoveredPositions(f, pos, m.length);
            pos += m.length;
        }
        pending = 0;
    }
    // Matches end at the chunk's end at the latest, so pos <= n.
    return pending + (n - pos);
}

}  // namespace orsk
