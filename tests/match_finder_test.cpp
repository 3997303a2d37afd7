// Levels 2 to 5: the match finder's packed chain links, the partial clearing of the head
// table and the call filter's word-wise scans must give exactly the reference containers.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "codecs/normal/normal.h"
#include "container/drivers/memory.h"
#include "test_util.h"

namespace orsk {
namespace {

using test::Bytes;

const Level kChainLevels[] = {Level::Fast, Level::Normal, Level::Better, Level::Best};

std::uint64_t Fnv1a64(const std::vector<std::uint8_t>& b) {
    std::uint64_t h = 0xCBF29CE484222325u;
    for (std::uint8_t x : b) h = (h ^ x) * 0x100000001B3u;
    return h;
}

Bytes CompressWith(BlockWorkspace& ws, Level level, const Bytes& in) {
    std::vector<std::uint8_t> out;
    EXPECT_EQ(CompressBuffer(level, in.data(), in.size(), out, ws), Status::Ok);
    return out;
}

// An 8-byte token planted in text at spacings around the 16-bit reach of a chain
// entry (65,535) and the windows (64,255 to 65,535).
Bytes SpacedTokens() {
    Bytes b = test::TextLike(600000, 41);
    const std::uint8_t token[8] = {'s', 'p', 'a', 'c', 'e', 'd', '!', '?'};
    std::size_t at = 0;
    const std::size_t gaps[] = {65534, 65535, 65536, 65537, 64255, 64256, 12, 13, 14, 15, 16, 17, 100, 64254};
    for (int round = 0; at + 8 < b.size(); ++round) {
        std::memcpy(&b[at], token, 8);
        at += gaps[round % (sizeof gaps / sizeof gaps[0])];
    }
    return b;
}

// x86-like bytes: call opcodes everywhere, 'P' and 'E' often, a signature late.
Bytes CallHeavy(std::size_t n, std::uint32_t seed) {
    Bytes b = test::RandomBytes(n, seed);
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint8_t r = b[i];
        if (r < 40) b[i] = 0xE8;
        else if (r < 50) b[i] = 0xE9;
        else if (r < 60) b[i] = 'P';
        else if (r < 70) b[i] = 'E';
        else if (r < 90) b[i] = 0;
    }
    if (n > 100) std::memcpy(&b[n / 3], "PE\0\0", 4);
    return b;
}

struct Case {
    const char* name;
    Bytes (*make)();
    std::uint64_t digest[4];  // FNV-1a 64 of the container at levels 2..5
};

// Digests of the containers made before the speed work.
const Case kCases[] = {
    {"text 1.5 MB", [] { return test::TextLike(1500000, 7); },
     {0x4E8F509DF92C12DEu, 0xE0D22DD2A5C7DF1Eu, 0x7075A08061B73106u, 0x4347A9B10620AC34u}},
    {"binary 300 KB", [] { return test::BinaryLike(300000, 8); },
     {0x2FC48B5EAF399CC6u, 0x40A7B10C5C2749D4u, 0xDECE12FEE318B8E4u, 0x377EBA8F92E927E5u}},
    {"runs 200 KB", [] { return test::Runs(200000, 9); },
     {0xD4FD025A2D18EE82u, 0xF9F78F5229DA13B5u, 0xBB839F3ED5275819u, 0x746B9CB04B97F737u}},
    {"spaced tokens", SpacedTokens,
     {0x145F3CAAD019CA43u, 0x788572E197AD9F5Au, 0xF91F0839FD994880u, 0x164C9BDE7ED03E55u}},
    {"call heavy 1 MiB + 1", [] { return CallHeavy(1048577, 10); },
     {0x4BB32356CB56889Bu, 0x4D68258CBAD09CABu, 0x355474740F0E4C00u, 0xADD37A720BD3178Eu}},
};

TEST(MatchFinder, ContainersMatchTheOnesMadeBefore) {
    auto ws = std::make_unique<BlockWorkspace>();
    for (const Case& c : kCases) {
        const Bytes in = c.make();
        for (int i = 0; i < 4; ++i) {
            SCOPED_TRACE(std::string(c.name) + " level " + std::to_string(i + 2));
            const Bytes out = CompressWith(*ws, kChainLevels[i], in);
            EXPECT_EQ(Fnv1a64(out), c.digest[i]);
            Bytes back;
            ASSERT_EQ(test::Decompress(kChainLevels[i], out, back), Status::Ok);
            EXPECT_EQ(back, in);
        }
    }
}

TEST(MatchFinder, ShortChunksIgnoreWhatEarlierChunksLeftInTheTables) {
    // Short chunks clear only the heads they hash to: a workspace whose tables hold
    // positions of other chunks and levels must give the bytes of a fresh one.
    const Bytes dirt = test::TextLike(262144, 3);
    auto dirty = std::make_unique<BlockWorkspace>();
    for (int l = 0; l < LevelCount; ++l) CompressWith(*dirty, Level(l), dirt);
    for (std::size_t n : {1u, 9u, 10u, 11u, 100u, 4095u, 8191u, 8192u, 8193u, 30000u}) {
        const Bytes text = test::TextLike(n, std::uint32_t(n));
        const Bytes runs = test::Runs(n, std::uint32_t(n) + 1);
        for (Level level : kChainLevels) {
            SCOPED_TRACE(std::to_string(n) + " bytes, level " + std::to_string(int(level)));
            auto fresh = std::make_unique<BlockWorkspace>();
            EXPECT_EQ(CompressWith(*dirty, level, text), CompressWith(*fresh, level, text));
            fresh = std::make_unique<BlockWorkspace>();
            EXPECT_EQ(CompressWith(*dirty, level, runs), CompressWith(*fresh, level, runs));
            // Stale positions again, from another level's use of the tables.
            CompressWith(*dirty, Level((int(level) + 3) % LevelCount), dirt);
        }
    }
}

// The call filter as a plain byte loop: the scans of the real one must agree.
void ReferenceFilter(std::uint8_t* b, std::size_t n, bool apply) {
    if (n <= 8) return;
    const std::size_t last = n - 8;
    std::size_t i = 0;
    while (i < last && !(b[i] == 'P' && b[i + 1] == 'E' && b[i + 2] == 0 && b[i + 3] == 0)) ++i;
    const std::int64_t len = std::int64_t(n);
    while (i < last) {
        if ((b[i] & 0xFE) != 0xE8) {
            ++i;
            continue;
        }
        const std::int64_t p = std::int64_t(i) + 1;
        std::int32_t raw;
        std::memcpy(&raw, b + p, 4);
        std::int64_t x = raw;
        if (apply) {
            x = (x >= -p && x < len - p) ? x + p : (x > 0 && x < len) ? x - len : x;
        } else {
            x = x < 0 ? (x + p >= 0 ? x + len : x) : (x < len ? x - p : x);
        }
        const std::int32_t out = std::int32_t(x);
        std::memcpy(b + p, &out, 4);
        i = std::size_t(p) + 4;
    }
}

TEST(MatchFinder, CallFilterScansMatchAByteLoop) {
    for (std::size_t n : {0u, 8u, 9u, 12u, 13u, 16u, 17u, 23u, 24u, 25u, 40u, 1000u, 65536u}) {
        for (std::uint32_t seed = 1; seed <= 6; ++seed) {
            SCOPED_TRACE(std::to_string(n) + " bytes, seed " + std::to_string(seed));
            Bytes b = CallHeavy(n, seed);
            // A signature at every offset near the scan's end, in turn.
            if (n >= 12 && seed > 1) std::memcpy(&b[n - 8 - std::min<std::size_t>(seed, n - 8)], "PE\0\0", 4);
            Bytes want = b;
            Bytes got = b;
            ReferenceFilter(want.data(), n, true);
            ApplyCallAddressFilter(got.data(), n);
            EXPECT_EQ(got, want);
            RevertCallAddressFilter(got.data(), n);
            EXPECT_EQ(got, b);
        }
    }
}

}  // namespace
}  // namespace orsk
