// The container around the codecs: entropy estimate and store decision, block framing,
// the ordered pipeline and the platform's time arithmetic.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "container/blocks/entropy_estimate.h"
#include "container/format/block.h"
#include "container/drivers/memory.h"
#include "container/drivers/pipeline.h"
#include "platform/platform.h"
#include "test_util.h"

namespace orsk::test {
namespace {

// Sample positions of the estimate: strides 2, 3, ..., 14, then 15.
std::vector<std::size_t> SamplePositions(std::size_t count) {
    std::vector<std::size_t> p{0};
    std::size_t stride = 2;
    while (p.size() < count) {
        p.push_back(p.back() + stride);
        if (stride < 15) ++stride;
    }
    return p;
}

TEST(EntropyEstimate, EveryLengthCountsExactlyTheScheduledSamples) {
    EXPECT_EQ(EntropyEstimate(nullptr, 100), 7.999);
    for (std::size_t n = 1; n <= 13; ++n) EXPECT_EQ(EntropyEstimate(RandomBytes(n, 1).data(), n), 7.999);
    const std::vector<std::size_t> firstSamples{0, 2, 5, 9, 14, 20, 27, 35, 44, 54, 65, 77, 90, 104, 119, 134, 149};
    EXPECT_EQ(SamplePositions(firstSamples.size()), firstSamples);
    // Against the schedule spelled out, on random bytes of every length up to 2,000 and
    // near a full chunk (the last 13 bytes never count): equal to the last bit.
    const Bytes data = RandomBytes(MaxChunkLength, 7);
    const std::vector<std::size_t> pos = SamplePositions(69912);
    auto expected = [&](std::size_t n) {
        std::uint32_t counts[256] = {};
        std::uint32_t samples = 0;
        for (std::size_t p = 0; pos[p] < n - 13; ++p, ++samples) ++counts[data[pos[p]]];
        double h = 0.0;
        for (std::uint32_t c : counts) {
            if (c != 0) h += std::log2(double(c) / samples) * (double(c) / samples);
        }
        return -h;
    };
    for (std::size_t n = 14; n <= 2000; ++n) ASSERT_EQ(EntropyEstimate(data.data(), n), expected(n)) << n;
    for (std::size_t n = MaxChunkLength - 64; n <= MaxChunkLength; ++n) {
        ASSERT_EQ(EntropyEstimate(data.data(), n), expected(n)) << n;
    }
}

TEST(EntropyEstimate, EvenSpreadsAndTheStrictThreshold) {
    // 2,560 samples spread evenly over 256 values: exactly 8.0.
    const auto pos = SamplePositions(2561);
    Bytes even(pos[2560] + 13, 0);
    for (std::size_t k = 0; k < 2560; ++k) even[pos[k]] = std::uint8_t(k);
    EXPECT_EQ(EntropyEstimate(even.data(), even.size()), 8.0);

    // Exactly 6.0 (64 values evenly): stored at level 0, whose threshold is 6.0.
    Bytes six(pos[640] + 13, 0);
    for (std::size_t k = 0; k < 640; ++k) six[pos[k]] = std::uint8_t(k % 64);
    EXPECT_EQ(EntropyEstimate(six.data(), six.size()), 6.0);
    BlockWorkspace ws;
    ASSERT_EQ(ws.PrepareCompress(), Status::Ok);
    std::copy(six.begin(), six.end(), ws.chunk());
    ChunkOutcome out;
    ASSERT_EQ(CompressChunk(Level::Hyperfast, ws, six.size(), out), Status::Ok);
    EXPECT_TRUE(out.stored);
    EXPECT_EQ(out.blockLength, six.size() + 9);
}

TEST(Framing, RejectsWhatNoWriterMakes) {
    Bytes back;
    const Bytes unequal{83, 15, 1, 0, 0, 0, 2, 0, 0, 0, 'x', 'y'};
    const Bytes oversized{83, 15, 0xA1, 0x99, 0x11, 0, 0xA1, 0x99, 0x11, 0};
    const Bytes shortBlock{83, 66, 1, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 16, 0, 0, 0};
    for (int l = 0; l < LevelCount; ++l) {
        EXPECT_EQ(Decompress(Level(l), unequal, back), Status::Corrupt);
        EXPECT_EQ(Decompress(Level(l), oversized, back), Status::Corrupt);
        EXPECT_NE(Decompress(Level(l), shortBlock, back), Status::Ok);
        BlockView v;  // a compressed block that claims more than a chunk
        v.chunkLength = MaxChunkLength + 1;
        const Bytes huge = Concat({{ContainerMagic}, BuildBlock(Level(l), v)});
        std::uint64_t size = 0;
        EXPECT_EQ(RestoredSize(Level(l), huge.data(), huge.size(), size, test::Workspace()), Status::Corrupt);
        EXPECT_EQ(Decompress(Level(l), huge, back), Status::Corrupt);
    }
    // A stored block cut short anywhere.
    const Bytes good{83, 15, 3, 0, 0, 0, 3, 0, 0, 0, 'a', 'b', 'c'};
    for (std::size_t cut = 2; cut < good.size(); ++cut) {
        EXPECT_EQ(Decompress(Level::Fast, Bytes(good.begin(), good.begin() + cut), back), Status::Truncated);
    }
}

// The earliest job's failure wins, whichever stage met it, with every job before it
// consumed in order: the same with one worker thread or several.
TEST(Pipeline, EarliestFailureWinsWhateverTheStage) {
    // The job at which producing, working and consuming fail (1000: never).
    struct Case {
        std::size_t produce, work, consume;
    };
    for (const Case c : {Case{6, 4, 1000}, Case{4, 6, 1000}, Case{9, 1000, 5}, Case{3, 1000, 1000},
                         Case{1, 0, 1000}, Case{0, 1000, 1000}, Case{1000, 150, 1000}}) {
        const std::size_t first = std::min({c.produce, c.work, c.consume});
        const Status expected = first == c.produce ? Status::Truncated
                                : first == c.work  ? Status::Corrupt
                                                   : Status::WriteFailed;
        for (std::size_t threads : {1u, 2u, 4u}) {
            OrderedPipeline pipeline(threads, threads == 1 ? 1 : 2 * threads);
            std::vector<std::size_t> job(pipeline.slots()), worked(pipeline.slots());
            std::vector<std::size_t> seen;
            std::size_t next = 0;
            auto produce = [&](std::size_t slot, bool& more) {
                if (next == c.produce) return Status::Truncated;
                job[slot] = next++;
                more = true;
                return Status::Ok;
            };
            auto work = [&](std::size_t slot, std::size_t) {
                // Uneven work so that later jobs often finish first.
                volatile std::size_t spin = (job[slot] * 7919) % 20000;
                while (spin > 0) spin = spin - 1;
                worked[slot] = job[slot];
                return job[slot] == c.work ? Status::Corrupt : Status::Ok;
            };
            auto consume = [&](std::size_t slot) {
                if (job[slot] == c.consume) return Status::WriteFailed;
                seen.push_back(worked[slot]);  // what the work left, so a slot consumed early shows
                return Status::Ok;
            };
            std::size_t failed = 1000;
            EXPECT_EQ(pipeline.Run(produce, work, consume, failed), expected) << threads << " threads";
            EXPECT_EQ(failed, first) << threads << " threads";
            ASSERT_EQ(seen.size(), first) << threads << " threads";
            for (std::size_t i = 0; i < seen.size(); ++i) EXPECT_EQ(seen[i], i);
        }
    }
}

TEST(Platform, StageMicrosNeverOverflows) {
    EXPECT_EQ(platform::StageMicros(0, 1500, 1000000000), 1);
    EXPECT_EQ(platform::StageMicros(5, 5 + 3600LL * 24 * 365 * 1000000000LL, 1000000000),
              3600LL * 24 * 365 * 1000000);
    EXPECT_EQ(platform::StageMicros(0, 10, 3), 3333333);
}

}  // namespace
}  // namespace orsk::test
