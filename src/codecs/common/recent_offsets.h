// The recent-offset slots of levels 1 to 5 (zero at the start of every block): a match
// at the distance of slot k exchanges slot k with slot 0; a new distance enters slot 0
// and shifts the others down, the last dropping out. One form for the compressors, one
// for the decoders' token loops.
#pragma once

#include <cstdint>
#include <utility>

namespace orsk {

// The compressor's slots, which the recent-offset probe also reads: distinct non-zero
// distances from slot 0 on, then zeros.
template <int Slots>
struct RecentOffsets {
    static_assert(Slots >= 1 && Slots <= 6);
    static constexpr unsigned NewDistance = Slots;
    std::uint32_t slot[Slots] = {};

    // Moves d (non-zero) to slot 0; returns the slot it was found in (the first, as the
    // slots are distinct), or NewDistance when it was in none.
    unsigned Use(std::uint32_t d) {
        for (int k = 0; k < Slots; ++k) {
            if (slot[k] == d) {
                slot[k] = slot[0];
                slot[0] = d;
                return unsigned(k);
            }
        }
        for (int k = Slots - 1; k > 0; --k) slot[k] = slot[k - 1];
        slot[0] = d;
        return NewDistance;
    }
};

// The decoder's slots, kept in registers (an array indexed by the code would live on
// the stack, and shifting it there stalls on store forwarding). Slots past Count stay
// 0 and are never selected.
template <int Count>
struct RecentSlots {
    static_assert(Count >= 1 && Count <= 6);
    std::uint32_t s0 = 0, s1 = 0, s2 = 0, s3 = 0, s4 = 0, s5 = 0;

    // Slot k (k < Count): its distance moves to slot 0 and slot 0's to slot k.
    std::uint32_t Take(std::uint32_t k) {
        if constexpr (Count <= 3) {
            // Up to three slots, an exchange behind a branch runs fewer instructions
            // than the selects below (level 1's token loop: 3% fewer).
            if (k == 1) std::swap(s0, s1);
            if constexpr (Count > 2) {
                if (k == 2) std::swap(s0, s2);
            }
            return s0;
        } else {
            std::uint32_t d;
            if constexpr (Count <= 5) {
                d = k == 0 ? s0 : k == 1 ? s1 : k == 2 ? s2 : k == 3 ? s3 : s4;
            } else {
                // Six conditionals become a jump table, whose indirect jump mispredicts on
                // a random k; masks stay branch-free.
                auto is = [k](std::uint32_t slot) { return 0u - std::uint32_t(k == slot); };
                d = (s0 & is(0)) | (s1 & is(1)) | (s2 & is(2)) | (s3 & is(3)) | (s4 & is(4)) | (s5 & is(5));
            }
            s1 = k == 1 ? s0 : s1;
            s2 = k == 2 ? s0 : s2;
            s3 = k == 3 ? s0 : s3;
            if constexpr (Count > 4) s4 = k == 4 ? s0 : s4;
            if constexpr (Count > 5) s5 = k == 5 ? s0 : s5;
            s0 = d;
            return d;
        }
    }
    // A new distance enters slot 0; the others move down one, the last drops out.
    void Push(std::uint32_t d) {
        if constexpr (Count > 5) s5 = s4;
        if constexpr (Count > 4) s4 = s3;
        if constexpr (Count > 3) s3 = s2;
        if constexpr (Count > 2) s2 = s1;
        if constexpr (Count > 1) s1 = s0;
        s0 = d;
    }
};

}  // namespace orsk
