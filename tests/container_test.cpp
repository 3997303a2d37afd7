// The container around the codecs: entropy estimate and store decision, stored blocks,
// block framing, sections, the ordered pipeline and the platform's time arithmetic.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "container/blocks/entropy_estimate.h"
#include "container/blocks/sections.h"
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

TEST(StoredBlocks, RestoreAlikeAtEveryLevel) {
    // A hand-made container of stored blocks.
    Bytes c{83};
    const Bytes parts[] = {RandomBytes(300, 4), RandomBytes(1, 5), TextLike(5000, 6)};
    Bytes expected;
    for (const Bytes& p : parts) {
        c.push_back(15);
        for (int copy = 0; copy < 2; ++copy) {
            for (int i = 0; i < 4; ++i) c.push_back(std::uint8_t(p.size() >> (8 * i)));
        }
        c.insert(c.end(), p.begin(), p.end());
        expected.insert(expected.end(), p.begin(), p.end());
    }
    for (int l = 0; l < LevelCount; ++l) {
        Bytes back;
        ASSERT_EQ(Decompress(Level(l), c, back), Status::Ok) << "level " << l;
        EXPECT_TRUE(back == expected);
    }
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

TEST(Sections, RawAndEmptyFormsUnpack) {
    const Bytes a = TextLike(100, 10);
    std::vector<std::uint8_t> block(200 + StreamReadSlack);
    ByteSink sink{block.data(), block.data(), block.data() + 200};
    ASSERT_EQ(WriteRawSection(sink, a.data(), a.size()), Status::Ok);
    ASSERT_EQ(WriteRawSection(sink, nullptr, 0), Status::Ok);
    EXPECT_EQ(Written(sink), 106u);
    EXPECT_EQ(block[0], SectionRaw);
    EXPECT_EQ(LoadLE32(&block[1]), 100u);
    EXPECT_EQ(block[105], SectionEmpty);
    EXPECT_EQ(WriteRawSection(sink, a.data(), a.size()), Status::NoRoom);

    DecodeBuffers buffers;
    BlockStreams streams;
    EXPECT_EQ(UnpackSections({block.data(), block.data() + 106}, 2, buffers, streams), Status::Ok);
    EXPECT_EQ(Left(streams.stream[0]), 100u);
    EXPECT_TRUE(std::equal(a.begin(), a.end(), streams.stream[0].at));
    EXPECT_EQ(Left(streams.stream[1]), 0u);
    // Bytes left over behind the last section, or a section running past the payload.
    EXPECT_EQ(UnpackSections({block.data(), block.data() + 106}, 1, buffers, streams), Status::Corrupt);
    EXPECT_EQ(UnpackSections({block.data(), block.data() + 104}, 2, buffers, streams), Status::Corrupt);
    // Kinds no writer makes: a raw section of no bytes, a kind byte above 2.
    const Bytes emptyRaw{SectionRaw, 0, 0, 0, 0}, kind3{3};
    EXPECT_EQ(UnpackSections({emptyRaw.data(), emptyRaw.data() + 5}, 1, buffers, streams), Status::Corrupt);
    EXPECT_EQ(UnpackSections({kind3.data(), kind3.data() + 1}, 1, buffers, streams), Status::Corrupt);
}

TEST(Pipeline, ResultsLeaveInOrderAndStopAtTheFirstFailure) {
    for (std::size_t threads : {1u, 2u, 4u}) {
        OrderedPipeline pipeline(threads, threads == 1 ? 1 : 2 * threads);
        std::vector<std::size_t> job(pipeline.slots()), squared(pipeline.slots());
        std::vector<std::size_t> seen;
        std::size_t next = 0;
        auto produce = [&](std::size_t slot, bool& more) {
            more = next < 200;
            job[slot] = next++;
            return Status::Ok;
        };
        auto work = [&](std::size_t slot, std::size_t) {
            // Uneven work so that later jobs often finish first.
            volatile std::size_t spin = (job[slot] * 7919) % 20000;
            while (spin > 0) spin = spin - 1;
            squared[slot] = job[slot] * job[slot];
            return job[slot] == 150 ? Status::Corrupt : Status::Ok;
        };
        auto consume = [&](std::size_t slot) {
            seen.push_back(squared[slot]);
            return Status::Ok;
        };
        std::size_t failed = 0;
        EXPECT_EQ(pipeline.Run(produce, work, consume, failed), Status::Corrupt);
        EXPECT_EQ(failed, 150u);
        ASSERT_EQ(seen.size(), 150u) << threads << " threads";
        for (std::size_t i = 0; i < seen.size(); ++i) EXPECT_EQ(seen[i], i * i);
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
