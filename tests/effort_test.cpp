// The efforts: at every level and efforts 1, 5 and 9 the containers restore exactly at
// the level and at the level told from them, and every block keeps the shapes the
// level's own writer makes (so any reader of the format restores it).
#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "codecs/common/match_length.h"
#include "codecs/common/recent_offsets.h"
#include "container/blocks/block_header.h"
#include "container/drivers/memory.h"
#include "orsk/orsk.h"
#include "test_util.h"

namespace orsk::test {
namespace {

constexpr std::size_t MiB = MaxChunkLength;

// Reads a length extension: biased at levels 0 and 1 (255 + 16 bits), whole at BEST.
std::uint32_t Extension(const Bytes& s, std::size_t& at, bool biased) {
    EXPECT_LT(at, s.size());
    if (at >= s.size()) return 0;
    const std::uint32_t v = s[at++];
    if (v < 255) return v;
    EXPECT_LE(at + 2, s.size());
    if (at + 2 > s.size()) return 0;
    const std::uint32_t wide = std::uint32_t(s[at]) << 8 | s[at + 1];
    at += 2;
    return biased ? 255 + wide : wide;
}

// The sequences a block of level 0, 1 or 5 holds, each checked against what the level's
// writer makes: a match of 4 to 65,535 bytes at a distance inside the restored bytes
// and the level's largest, literal runs of at most 65,535 (65,543 at a chunk's end at
// levels 0 and 1), no empty sequence; sections coded only where the level codes them.
void CheckBlockShapes(Level level, const Bytes& block) {
    const BlockView v = ViewBlock(level, block);
    const bool best = level == Level::Best;
    const std::uint32_t largest = level == Level::Superfast ? 64511 : 65534;
    if (!best) {
        EXPECT_LT(block.size(), v.chunkLength);  // levels 0 and 1 keep only shorter blocks
    }
    const int sections = SectionCount(level);
    for (int i = 0; i < sections; ++i) {
        const std::size_t length = v.streams[std::size_t(i)].size();
        // Which sections the level codes from MinCodedLength bytes on (literals at BEST may
        // stay raw, by their entropy).
        const bool codes = level == Level::Superfast ? i < 2 : best && (i == 0 || (i >= 3 && i <= 5));
        const bool mayCode = codes || (best && i == 6);
        if (v.kinds[std::size_t(i)] == SectionCoded) {
            EXPECT_TRUE(mayCode && length >= 2048) << "section " << i;
        }
        if (codes && length >= 2048) {
            EXPECT_EQ(v.kinds[std::size_t(i)], SectionCoded) << "section " << i;
        }
    }
    std::size_t restored = 0, low = 0, high = 0, codeAt = 0, litExtra = 0, matchExtra = 0;
    RecentSlots<6> rep;
    const auto& s = v.streams;
    for (std::uint32_t k = 0; k < v.sequenceCount; ++k) {
        std::uint32_t run = 0, length = 0, distance = 0;
        bool match = false, recent = false;
        unsigned slot = 0;
        if (best) {
            const unsigned t = s[0][k];
            ASSERT_LE(t, 14u);
            if (t <= 6 || t == 14) {
                run = Extension(s[3], litExtra, false);
                EXPECT_GE(run, 1u);
            }
            match = t != 14;
            if (match) {
                length = Extension(s[4], matchExtra, false);
                slot = t <= 6 ? t : t - 7;
                recent = slot < 6;
            }
        } else {
            run = s[0][k];
            length = s[1][k];
            ASSERT_TRUE(run <= 15 && length <= 15);
            if (run == 15) run += Extension(s[2], litExtra, true);
            if (length == 15) length += Extension(s[3], matchExtra, true);
            match = length != 0;
            if (match && level == Level::Superfast) {
                ASSERT_LT(codeAt, s[4].size());
                slot = s[4][codeAt++];
                recent = slot < 3;
            }
        }
        EXPECT_TRUE(run <= MaxLiteralRun || (!best && !match && k + 1 == v.sequenceCount && run <= 65543));
        EXPECT_TRUE(run != 0 || match) << "an empty sequence";
        restored += run;
        if (!match) continue;
        EXPECT_TRUE(length >= 4 && length <= 65535) << length;
        if (recent) {
            distance = rep.Take(slot);
        } else {
            ASSERT_LT(low, v.low.size());
            const std::uint32_t top = level == Level::Superfast ? slot - 3 : s[best ? 5 : 4].at(high++);
            distance = top << 8 | v.low[low++];
            rep.Push(distance);
        }
        EXPECT_TRUE(distance >= 1 && distance <= restored && distance <= largest) << distance;
        restored += length;
    }
    EXPECT_EQ(restored, v.chunkLength);
    EXPECT_EQ(low, v.low.size());
}

// Every compressed block of a plain container.
void CheckShapes(Level level, const Bytes& c) {
    for (std::size_t at = 1; at < c.size();) {
        const std::size_t length = c[at] == StoredBlockKind ? StoredHeaderLength + LoadLE32(&c[at + 1])
                                                            : ReadBlockHeader(&c[at], HeaderOrder::A).blockLength;
        ASSERT_LE(at + length, c.size());
        const auto begin = c.begin() + std::ptrdiff_t(at);
        if (c[at] == CompressedBlockKind) CheckBlockShapes(level, Bytes(begin, begin + std::ptrdiff_t(length)));
        at += length;
    }
}

using Param = std::tuple<int, unsigned, Kind, std::size_t>;
class Effort : public ::testing::TestWithParam<Param> {};

TEST_P(Effort, RestoresAndKeepsTheLevelsShapes) {
    const auto [l, effort, kind, n] = GetParam();
    const Level level = Level(l);
    // A stretch of random bytes inside text: literal runs longer than one sequence holds.
    const Bytes input = n == 0 || kind != Kind::Random
                            ? Sample(kind, n, std::uint32_t(n) + 3)
                            : Concat({TextLike(n / 2, 1), RandomBytes(70000, 2), TextLike(n / 2, 3)});
    BlockWorkspace ws;
    Bytes container, restored, told;
    ASSERT_EQ(CompressBuffer(level, input.data(), input.size(), container, ws, nullptr, ContainerKind::Plain, effort),
              Status::Ok);
    ASSERT_EQ(Decompress(level, container, restored), Status::Ok);
    EXPECT_TRUE(restored == input);
    ASSERT_EQ(DecompressBuffer(LevelFromContainer, container.data(), container.size(), told, ws), Status::Ok);
    EXPECT_TRUE(told == input);
    if (level == Level::Hyperfast || level == Level::Superfast || level == Level::Best) {
        CheckShapes(level, container);
        EXPECT_LE(container.size(), Compress(level, input).size());  // never longer than the own parse
    } else {
        EXPECT_TRUE(container == Compress(level, input));  // their own parse at every effort
    }
}

std::string Name(const ::testing::TestParamInfo<Param>& p) {
    return "L" + std::to_string(std::get<0>(p.param)) + "_E" + std::to_string(std::get<1>(p.param)) + "_" +
           KindName(std::get<2>(p.param)) + "_" + std::to_string(std::get<3>(p.param));
}

INSTANTIATE_TEST_SUITE_P(Sizes, Effort,
                         ::testing::Combine(::testing::Range(0, LevelCount), ::testing::Values(1u, 5u, 9u),
                                            ::testing::ValuesIn(kKinds), ::testing::Values(0, 1, 5000, 300000)),
                         Name);
INSTANTIATE_TEST_SUITE_P(Slow, Effort,
                         ::testing::Combine(::testing::Range(0, LevelCount), ::testing::Values(1u, 5u, 9u),
                                            ::testing::ValuesIn(kKinds),
                                            ::testing::Values(MiB - 1, MiB, MiB + 1, 3 * MiB)),
                         Name);

// The C calls: no effort flag and ORSK_EFFORT(0) write the level's own parse; a stream
// with an effort writes what the one-shot call does; an effort above 9 is refused.
TEST(EffortFlags, OneShotAndStreamAgree) {
    const Bytes input = TextLike(300000, 11);
    auto oneShot = [&](int level, unsigned flags) {
        Bytes out(std::size_t(orsk_compress_bound_ex(input.size(), flags)));
        std::size_t size = 0;
        EXPECT_EQ(orsk_compress_ex(level, flags, input.data(), input.size(), out.data(), out.size(), &size), ORSK_OK);
        out.resize(size);
        return out;
    };
    const unsigned flags = ORSK_CHECKED | ORSK_EFFORT(9);
    for (int level = 0; level < LevelCount; ++level) {
        const Bytes own = oneShot(level, 0), nine = oneShot(level, flags);
        EXPECT_TRUE(oneShot(level, ORSK_EFFORT(0)) == own);
        EXPECT_LE(nine.size(), own.size() + 33 + 8) << level;  // the checked frame: header, end record, a check

        orsk_compress_stream* stream = nullptr;
        ASSERT_EQ(orsk_compress_stream_create(level, flags, &stream), ORSK_OK);
        Bytes streamed(nine.size() + 64);
        std::size_t used = 0, made = 0, more = 0;
        int done = 0;
        EXPECT_EQ(orsk_compress_stream_update(stream, input.data(), input.size(), &used, streamed.data(),
                                              streamed.size(), &made),
                  ORSK_OK);
        EXPECT_EQ(orsk_compress_stream_finish(stream, &streamed[made], streamed.size() - made, &more, &done), ORSK_OK);
        orsk_compress_stream_destroy(stream);
        EXPECT_EQ(used, input.size());
        EXPECT_EQ(done, 1);
        streamed.resize(made + more);
        EXPECT_TRUE(streamed == nine);
    }
    std::size_t size = 0;
    Bytes out(64);
    EXPECT_EQ(orsk_compress_ex(0, ORSK_EFFORT(10), input.data(), 16, out.data(), out.size(), &size), ORSK_BAD_ARGUMENT);
    orsk_compress_stream* stream = nullptr;
    EXPECT_EQ(orsk_compress_stream_create(1, ORSK_EFFORT(16), &stream), ORSK_BAD_ARGUMENT);
    EXPECT_EQ(stream, nullptr);
}

}  // namespace
}  // namespace orsk::test
