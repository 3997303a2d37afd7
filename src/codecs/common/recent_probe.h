// The recent-offset probe of levels 4 and 5: the distances in the recent-offset slots
// tried as match candidates before the hash chain is walked.
#pragma once

#include <cstdint>

#include "base/bytes.h"
#include "codecs/common/hash_chain.h"
#include "codecs/common/match_length.h"
#include "codecs/common/recent_offsets.h"

namespace orsk {

// The longest match at p through a recent offset that is strictly longer than `best`
// (the lower slot wins a tie), or `best` unchanged (an empty slot 0: nothing to try). Candidates obey the
// finder's window and length limit, and are measured as the chain walk
// (SearchChainFrom) measures them, the common prefix up to the limit, so both agree
// on every length. Callers keep best <= limit + 1.
template <int Lanes, int Slots>
inline Match ProbeRecentOffsets(const ChainFinder<Lanes>& f, const RecentOffsets<Slots>& rep, std::uint32_t p,
                               Match best) {
    if (rep.slot[0] == 0) return best;
    const std::uint32_t limit = MatchLimit(f.n, p);
    // cand = p - d must lie strictly above max(p - window, 0): d < p - lower.
    const std::uint32_t reach = p > f.window ? f.window : p;
    const std::uint8_t* const here = f.chunk + p;
    const std::uint32_t here4 = LoadLE32(here);
    std::uint32_t hereAtBest = here[best.length];
    for (int k = 0; k < Slots; ++k) {
        const std::uint32_t d = rep.slot[k];
        if (d == 0) break;
        if (d >= reach) continue;
        const std::uint8_t* const there = here - d;
        // here + best <= chunk end + 1: both reads stay inside the chunk's slack.
        // One branch: the byte that must differ for a longer match, and the first 4.
        if (((LoadLE32(there) ^ here4) | (there[best.length] ^ hereAtBest)) != 0) continue;
        const std::uint32_t len = ExtendMatch(here, there, 4, limit);
        if (len > best.length) {
            best.length = len;
            best.distance = d;
            if (len == limit) break;
            hereAtBest = here[len];
        }
    }
    return best;
}

}  // namespace orsk
