// Hostile containers at every level: every prefix, single-byte changes and random
// damage of real containers must fail cleanly or restore something, never crash or
// touch memory outside the buffers (run under the asan preset).
#include <gtest/gtest.h>

#include <memory>

#include "container/drivers/memory.h"
#include "test_util.h"

namespace orsk::test {
namespace {

// Decodes from an allocation exactly as long as the data, so over-reads are caught.
Status DecodeExact(Level level, const std::uint8_t* data, std::size_t n, BlockWorkspace& ws) {
    std::unique_ptr<std::uint8_t[]> copy(new std::uint8_t[n == 0 ? 1 : n]);
    if (n != 0) std::memcpy(copy.get(), data, n);
    Bytes out;
    return DecompressBuffer(level, copy.get(), n, out, ws);
}

struct Sample {
    const char* name;
    Bytes data;
};

std::vector<Sample> Samples() {
    return {{"text", TextLike(3000, 21)},
            {"binary", BinaryLike(2500, 22)},
            {"runs", Runs(5000, 23)},
            {"many-sequences", TextLike(40000, 24)}};
}

class Hostile : public ::testing::TestWithParam<int> {};

TEST_P(Hostile, EveryPrefixFailsCleanly) {
    const Level level = Level(GetParam());
    BlockWorkspace ws;
    for (const Sample& s : Samples()) {
        const Bytes c = Compress(level, s.data);
        ASSERT_FALSE(c.empty());
        for (std::size_t cut = 2; cut < c.size(); ++cut) {
            ASSERT_NE(DecodeExact(level, c.data(), cut, ws), Status::Ok) << s.name << " cut at " << cut;
        }
    }
}

TEST_P(Hostile, ChangedBytesNeverCrash) {
    const Level level = Level(GetParam());
    BlockWorkspace ws;
    std::uint32_t seed = 99;
    for (const Sample& s : Samples()) {
        Bytes c = Compress(level, s.data);
        // Single-byte changes everywhere in the small containers, sampled in the large one.
        const std::size_t step = c.size() < 4000 ? 1 : c.size() / 1500;
        for (std::size_t i = 1; i < c.size(); i += step) {
            for (std::uint8_t x : {std::uint8_t(0x01), std::uint8_t(0x80), std::uint8_t(0xFF)}) {
                c[i] ^= x;
                (void)DecodeExact(level, c.data(), c.size(), ws);
                c[i] ^= x;
            }
        }
        // Random bursts of damage.
        for (int round = 0; round < 200; ++round) {
            Bytes d = c;
            const Bytes noise = RandomBytes(8, seed++);
            for (int k = 0; k < 4; ++k) {
                const std::size_t at = 1 + (std::size_t(noise[k]) * 257 + noise[k + 4] * 13 + round * 7919) % (d.size() - 1);
                d[at] = noise[(k + round) % 8];
            }
            (void)DecodeExact(level, d.data(), d.size(), ws);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Levels, Hostile, ::testing::Range(0, LevelCount),
                         [](const ::testing::TestParamInfo<int>& p) { return "L" + std::to_string(p.param); });

}  // namespace
}  // namespace orsk::test
