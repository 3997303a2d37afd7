// Leaf helpers for raw bytes: bounded cursors over untrusted input, little-endian
// loads and stores, and the forward word copies shared by compressors and decoders.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace orsk {

// Read side: [at, end) is what may still be consumed.
struct ByteCursor {
    const std::uint8_t* at = nullptr;
    const std::uint8_t* end = nullptr;
};

// Write side: [begin, at) is written, [at, end) is room.
struct ByteSink {
    std::uint8_t* begin = nullptr;
    std::uint8_t* at = nullptr;
    std::uint8_t* end = nullptr;
};

inline std::size_t Left(const ByteCursor& c) { return std::size_t(c.end - c.at); }
inline bool Holds(const ByteCursor& c, std::size_t n) { return n <= Left(c); }
inline std::size_t Written(const ByteSink& s) { return std::size_t(s.at - s.begin); }
inline std::size_t Room(const ByteSink& s) { return std::size_t(s.end - s.at); }

[[nodiscard]] inline bool Take(ByteCursor& c, std::size_t n, const std::uint8_t*& p) {
    if (!Holds(c, n)) return false;  // compare sizes; never form at + n first
    p = c.at;
    c.at += n;
    return true;
}

[[nodiscard]] inline bool TakeByte(ByteCursor& c, std::uint8_t& v) {
    if (c.at == c.end) return false;
    v = *c.at++;
    return true;
}

inline std::uint16_t LoadLE16(const void* p) {
    std::uint16_t v;
    std::memcpy(&v, p, 2);
    return v;
}
inline std::uint32_t LoadLE32(const void* p) {
    std::uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}
inline std::uint64_t LoadLE64(const void* p) {
    std::uint64_t v;
    std::memcpy(&v, p, 8);
    return v;
}
inline void StoreLE32(void* p, std::uint32_t v) { std::memcpy(p, &v, 4); }
inline void StoreLE64(void* p, std::uint64_t v) { std::memcpy(p, &v, 8); }

[[nodiscard]] inline bool TakeLE32(ByteCursor& c, std::uint32_t& v) {
    const std::uint8_t* p;
    if (!Take(c, 4, p)) return false;
    v = LoadLE32(p);
    return true;
}

// Appends to a sink; false when it has no room (nothing is written then).
[[nodiscard]] inline bool PutByte(ByteSink& s, std::uint8_t v) {
    if (s.at == s.end) return false;
    *s.at++ = v;
    return true;
}
[[nodiscard]] inline bool PutLE32(ByteSink& s, std::uint32_t v) {
    if (Room(s) < 4) return false;
    StoreLE32(s.at, v);
    s.at += 4;
    return true;
}
[[nodiscard]] inline bool PutLE64(ByteSink& s, std::uint64_t v) {
    if (Room(s) < 8) return false;
    StoreLE64(s.at, v);
    s.at += 8;
    return true;
}
[[nodiscard]] inline bool PutBytes(ByteSink& s, const std::uint8_t* p, std::size_t n) {
    if (Room(s) < n) return false;
    if (n != 0) std::memcpy(s.at, p, n);
    s.at += n;
    return true;
}

// Forward copies in 8- or 4-byte words, then a byte tail. Only for ranges where the
// source ends before the destination begins, or that lie in different buffers.
inline void CopyWords64(std::uint8_t* dst, const std::uint8_t* src, std::ptrdiff_t n) {
    std::ptrdiff_t i = 0;
    for (; i + 8 <= n; i += 8) StoreLE64(dst + i, LoadLE64(src + i));
    for (; i < n; ++i) dst[i] = src[i];
}
inline void CopyWords32(std::uint8_t* dst, const std::uint8_t* src, std::ptrdiff_t n) {
    std::ptrdiff_t i = 0;
    for (; i + 4 <= n; i += 4) StoreLE32(dst + i, LoadLE32(src + i));
    for (; i < n; ++i) dst[i] = src[i];
}

// Copies n bytes in 16-byte steps; may read and write up to 15 bytes past n.
// Callers guarantee that slack on both sides and that src + 16 <= dst or the ranges
// lie in different buffers.
inline void CopyWide16(std::uint8_t* dst, const std::uint8_t* src, std::size_t n) {
    std::size_t i = 0;
    do {
        std::uint8_t t[16];
        std::memcpy(t, src + i, 16);
        std::memcpy(dst + i, t, 16);
        i += 16;
    } while (i < n);
}

}  // namespace orsk
