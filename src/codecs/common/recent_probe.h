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
    // cand = p - d must lie strictly above max(p - window, 0): 1 <= d < reach. p > 0
    // here, as a slot holds a distance only once a match ended before p.
    const std::uint32_t reach = p > f.window ? f.window : p;
    const std::uint8_t* const here = f.chunk + p;
    // As in the chain walk, a slot wins only by matching more than `floor` bytes, so its
    // 4 bytes ending at floor must equal here's: one load per slot. here + floor + 1
    // <= chunk end + 2 (best <= limit + 1): inside the slack.
    std::uint32_t floor = best.length > MinMatchLength - 1 ? best.length : MinMatchLength - 1;
    std::uint32_t hereAtFloor = LoadLE32(here + floor - 3);
    // Empty slots (0) come last; like distances out of reach they fail the first test.
    // Every slot is tried: no branch ends the loop early.
    for (int k = 0; k < Slots; ++k) {
        const std::uint32_t d = rep.slot[k];
        if (d - 1 >= reach - 1) continue;
        const std::uint8_t* const there = here - d;
        if (LoadLE32(there + floor - 3) != hereAtFloor) continue;
        const std::uint32_t len = ExtendMatch(here, there, 0, limit);
        if (len > floor) {
            best.length = floor = len;
            best.distance = d;
            if (len == limit) break;
            hereAtFloor = LoadLE32(here + floor - 3);
        }
    }
    return best;
}

}  // namespace orsk
