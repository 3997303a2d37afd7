// The length extension behind an escape code: one byte below 255, else 255 and a
// big-endian u16 of the value less a bias. Levels 0 and 1 bias by 255 (the values the
// single byte cannot hold start there); levels 2 to 5 store the value whole.
#pragma once

#include <cassert>
#include <cstddef>
#include <cstdint>

#include "base/bytes.h"

namespace orsk {

// The byte that announces a u16; below it, a byte is the value itself.
constexpr std::uint8_t ExtraEscape = 255;
// The longest extension: the escape and a u16.
constexpr std::size_t MaxExtraLengthBytes = 3;

template <std::uint32_t Bias>
struct ExtraLengthCoder {
    static_assert(Bias <= ExtraEscape);
    // The largest value an extension carries.
    static constexpr std::uint32_t Max = Bias + 0xFFFF;

    // Appends the extension of v (v <= Max).
    static void Put(std::uint8_t*& at, std::uint32_t v) {
        assert(v <= Max);
        if (v < ExtraEscape) {
            *at++ = std::uint8_t(v);
            return;
        }
        v -= Bias;
        at[0] = ExtraEscape;
        at[1] = std::uint8_t(v >> 8);
        at[2] = std::uint8_t(v);
        at += 3;
    }

    // Inverse of Put; false when the stream ends inside the extension.
    [[nodiscard]] static bool Read(ByteCursor& c, std::uint32_t& v) {
        if (c.at == c.end) return false;
        const std::uint8_t b = *c.at;
        if (b != ExtraEscape) {
            c.at += 1;
            v = b;
            return true;
        }
        if (!Holds(c, MaxExtraLengthBytes)) return false;
        v = Bias + ((std::uint32_t(c.at[1]) << 8) | c.at[2]);
        c.at += MaxExtraLengthBytes;
        return true;
    }

    // Read without an end test: reads MaxExtraLengthBytes bytes from c.at, which the
    // caller made sure are readable (the stream's read slack, or whole extensions left).
    static std::uint32_t Take(ByteCursor& c) {
        const std::uint8_t b = *c.at;
        if (b != ExtraEscape) [[likely]] {
            c.at += 1;
            return b;
        }
        const std::uint32_t v = Bias + ((std::uint32_t(c.at[1]) << 8) | c.at[2]);
        c.at += MaxExtraLengthBytes;
        return v;
    }
};

// Levels 2 to 5: the value itself behind the escape.
using ExtraLength = ExtraLengthCoder<0>;
// Levels 0 and 1: the value less 255 behind the escape, reaching 255 + 65,535.
using BiasedExtraLength = ExtraLengthCoder<ExtraEscape>;

}  // namespace orsk
