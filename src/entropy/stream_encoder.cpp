// Stream encoder: one byte stream to a coded section body (N, S, symbol order,
// LengthCounts, then the codes packed most significant bit first into 64-bit words).
#include <algorithm>
#include <cassert>

#include "entropy/stream_coder.h"

namespace orsk {

namespace {

// Everything the body depends on besides the bytes themselves.
struct StreamCode {
    unsigned symbolCount = 0;
    std::uint32_t lengthCounts[MaxCodeLength + 1] = {};
    CodeEntry codes[256];
    std::uint64_t bitCount = 0;  // total code bits of the stream
};

void PlanStreamCode(const std::uint8_t* data, std::size_t n, StreamCode& plan) {
    std::uint32_t histogram[256];
    CodeEntry symbols[256];
    plan.symbolCount = CountSymbols(data, n, histogram, symbols);
    BuildPrefixCode(plan.symbolCount, plan.lengthCounts, symbols, plan.codes);
    plan.bitCount = 0;
    for (unsigned i = 0; i < plan.symbolCount; ++i) {
        plan.bitCount += std::uint64_t(plan.codes[i].count) * plan.codes[i].length;
    }
}

std::size_t BodySize(const StreamCode& plan) {
    const std::size_t wordCount = std::size_t((plan.bitCount + 63) / 64);
    return CodedStreamFixedBytes + plan.symbolCount + 8 * wordCount;
}

// Byte order reversal of a 64-bit word (compilers turn the shifts into one instruction).
inline std::uint64_t ByteSwap64(std::uint64_t v) {
    v = ((v & 0x00FF00FF00FF00FFull) << 8) | ((v >> 8) & 0x00FF00FF00FF00FFull);
    v = ((v & 0x0000FFFF0000FFFFull) << 16) | ((v >> 16) & 0x0000FFFF0000FFFFull);
    return (v << 32) | (v >> 32);
}

// Code and length by byte value (values that do not occur are never looked up).
struct CodeTable {
    std::uint16_t code[256];
    std::uint8_t length[256];
};

// Appends codes to the bit string as big-endian bytes: `acc` holds `used` pending bits
// at its low end (bits above them were stored already). A flush stores them as the top
// of an 8-byte big-endian word at `at` and moves on by their whole bytes, so at most 7
// bits stay pending. The body's words are byte-swapped into place at the end.
struct BitPacker {
    std::uint64_t acc = 0;
    unsigned used = 0;
    std::uint8_t* at = nullptr;

    // Appends the code of byte value b. used + its length <= 64.
    void Put(const CodeTable& t, unsigned b) {
        acc = (acc << t.length[b]) | t.code[b];
        used += t.length[b];
    }
    // Four codes as two independent pairs, so the chain through `acc` is two shifts long.
    void Put4(const CodeTable& t, const std::uint8_t* b) {
        const unsigned length01 = t.length[b[0]] + t.length[b[1]];
        const unsigned length23 = t.length[b[2]] + t.length[b[3]];
        const std::uint64_t pair01 = (std::uint64_t(t.code[b[0]]) << t.length[b[1]]) | t.code[b[1]];
        const std::uint64_t pair23 = (std::uint64_t(t.code[b[2]]) << t.length[b[3]]) | t.code[b[3]];
        acc = (((acc << length01) | pair01) << length23) | pair23;
        used += length01 + length23;
    }
    // 1 <= used <= 64; the fast shape writes 8 bytes at `at`, the careful one stops at `end`.
    template <bool Careful>
    void Flush(const std::uint8_t* end) {
        const std::uint64_t v = acc << (64 - used);
        if constexpr (Careful) {
            const std::size_t room = std::min<std::size_t>(8, std::size_t(end - at));
            for (std::size_t k = 0; k < room; ++k) at[k] = std::uint8_t(v >> (56 - 8 * k));
        } else {
            StoreLE64(at, ByteSwap64(v));
        }
        at += used >> 3;
        used &= 7;
    }
};

}  // namespace

std::size_t CodedStreamSize(const std::uint8_t* data, std::size_t n) {
    StreamCode plan;
    PlanStreamCode(data, n, plan);
    return BodySize(plan);
}

Status EncodeStream(const std::uint8_t* data, std::size_t n, ByteSink& sink) {
    // An empty stream has no coded form (its n - 1 byte would read as 256 symbols).
    if (n == 0 || n > MaxStreamLength) return Status::NoRoom;
    StreamCode plan;
    PlanStreamCode(data, n, plan);
    const std::size_t size = BodySize(plan);
    if (Room(sink) < size) return Status::NoRoom;

    // Every store below lies inside the `size` bytes just checked.
    std::uint8_t* p = sink.at;
    StoreLE32(p, std::uint32_t(n));
    StoreLE32(p + 4, std::uint32_t(size - 8));
    p[8] = std::uint8_t(plan.symbolCount - 1);
    p += 9;
    for (unsigned i = 0; i < plan.symbolCount; ++i) *p++ = std::uint8_t(plan.codes[i].symbol);
    for (unsigned length = 0; length <= MaxCodeLength; ++length) {
        *p++ = std::uint8_t(plan.lengthCounts[length] >> 8);
        *p++ = std::uint8_t(plan.lengthCounts[length]);
    }

    CodeTable table;
    for (unsigned i = 0; i < plan.symbolCount; ++i) {
        table.code[plan.codes[i].symbol] = plan.codes[i].code;
        table.length[plan.codes[i].symbol] = std::uint8_t(plan.codes[i].length);
    }

    std::uint8_t* const wordsBegin = p;
    std::uint8_t* const wordsEnd = sink.at + size;
    BitPacker packer;
    packer.at = p;
    // Eight bytes per step, flushed after each four codes (at most 7 + 48 bits pending).
    // A step moves `at` by at most 12 bytes and its last store ends 14 bytes past its
    // start, so with 16 bytes left before the words end no store passes them.
    std::size_t i = 0;
    for (; n - i >= 8 && wordsEnd - packer.at >= 16; i += 8) {
        packer.Put4(table, data + i);
        packer.Flush<false>(wordsEnd);
        packer.Put4(table, data + i + 4);
        packer.Flush<false>(wordsEnd);
    }
    for (; i < n; ++i) {
        packer.Put(table, data[i]);
        packer.Flush<true>(wordsEnd);
    }
    // The last pending bits, then zeros to the end of the last word (at most 8 bytes:
    // `at` is the byte holding bit floor(bits / 8) of the string).
    assert(packer.used < 8 && wordsEnd - packer.at <= 8);
    std::uint64_t last = packer.used != 0 ? packer.acc << (64 - packer.used) : 0;
    for (std::uint8_t* q = packer.at; q < wordsEnd; ++q, last <<= 8) *q = std::uint8_t(last >> 56);
    // Each 64-bit word of the string goes out little-endian.
    for (std::uint8_t* q = wordsBegin; q < wordsEnd; q += 8) StoreLE64(q, ByteSwap64(LoadLE64(q)));

    sink.at += size;
    return Status::Ok;
}

}  // namespace orsk
