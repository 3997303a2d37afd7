// The container around the codecs: entropy estimate and store decision, block framing,
// the checked container's header and checksums, the ordered pipeline and the platform's
// time arithmetic. Round trips, damage and every driver's reading have their own files.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <vector>

#include "container/blocks/block_header.h"
#include "container/blocks/entropy_estimate.h"
#include "container/format/block.h"
#include "container/format/checked.h"
#include "container/format/levels.h"
#include "container/drivers/memory.h"
#include "container/drivers/pipeline.h"
#include "files/file_driver.h"
#include "orsk/orsk.h"
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

// Block headers no writer makes, at every level (NORMAL orders its header fields apart):
// a restore and a size claim both refuse them as damage. The smallest block a header may
// describe, for up to 1 MiB, is a kind byte per section behind the 17 header bytes, so
// the largest claim is about 45,590 times the container.
TEST(Framing, RejectsWhatNoWriterMakes) {
    const auto stored = [](std::uint32_t a, std::uint32_t b, std::size_t body) {
        Bytes block(StoredHeaderLength + body, 7);
        block[0] = StoredBlockKind;
        StoreLE32(&block[1], a);
        StoreLE32(&block[5], b);
        return block;
    };
    for (int l = 0; l < LevelCount; ++l) {
        const Level level = Level(l);
        const auto compressed = [&](std::uint32_t chunk, std::uint32_t low, std::uint32_t blockLength) {
            Bytes block(std::max<std::size_t>(blockLength, CompressedHeaderLength), 0);
            WriteBlockHeader(block.data(), LevelOf(level).headerOrder, {1, chunk, low, blockLength});
            return block;
        };
        const std::uint32_t smallest = std::uint32_t(CompressedHeaderLength) + std::uint32_t(LevelOf(level).sections);
        const struct {
            const char* what;
            Bytes block;
        } bad[] = {
            {"stored lengths that differ", stored(1, 2, 2)},
            {"stored chunk of 0 bytes", stored(0, 0, 0)},
            {"stored chunk over 1 MiB", stored(0x1199A1, 0x1199A1, 0)},
            {"a whole chunk in a bare header", compressed(MaxChunkLength, 0, 17)},
            {"a block shorter than its header", compressed(1000, 0, 16)},
            {"no room for a kind byte per section", compressed(1000, 0, smallest - 1)},
            {"no room for the low bytes", compressed(1000, 100, smallest + 99)},
            {"chunk of 0 bytes", compressed(0, 0, smallest)},
            {"chunk over 1 MiB", compressed(MaxChunkLength + 1, 0, smallest)},
        };
        Bytes back;
        std::uint64_t size = 0;
        for (const auto& b : bad) {
            const Bytes c = Concat({{ContainerMagic}, b.block});
            EXPECT_EQ(RestoredSize(level, c.data(), c.size(), size, test::Workspace()), Status::Corrupt) << b.what;
            EXPECT_EQ(Decompress(level, c, back), Status::Corrupt) << b.what << " at level " << l;
        }
        const Bytes one = compressed(MaxChunkLength, 0, smallest);
        const Bytes three = Concat({{ContainerMagic}, one, one, one});
        ASSERT_EQ(RestoredSize(level, three.data(), three.size(), size, test::Workspace()), Status::Ok) << l;
        EXPECT_EQ(size, 3 * MaxChunkLength);
    }
}

TEST(CheckedContainer, EmptyInputAndHeaderBytes) {
    const Bytes c = Compress(Level::Normal, {}, ContainerKind::Checked);
    ASSERT_EQ(c.size(), 33u);
    EXPECT_EQ(Bytes(c.begin(), c.begin() + 4), (Bytes{67, 1, 3, 0}));
    EXPECT_EQ(c[8], EndRecordKind);
    EXPECT_TRUE(std::all_of(c.begin() + 9, c.end(), [](std::uint8_t b) { return b == 0; }));
    size_t n = 0;
    EXPECT_EQ(orsk_compress_ex(0, 2, nullptr, 0, nullptr, 0, &n), ORSK_BAD_ARGUMENT) << "unknown flag";
    EXPECT_EQ(orsk_compress_bound_ex(0, ORSK_CHECKED), 33u);
    EXPECT_EQ(orsk_compress_bound_ex(0, 0), orsk_compress_bound(0));
    EXPECT_EQ(orsk_compress_bound_ex(UINT64_MAX, ORSK_CHECKED), UINT64_MAX);
    EXPECT_EQ(orsk_decompress(-2, c.data(), c.size(), nullptr, 0, &n), ORSK_BAD_LEVEL);
}

// A header whose check holds but whose version, flags or level this reader does not know
// fails, saying which: version 0 is invalid, not newer. The file driver names it too.
TEST(CheckedContainer, UnknownHeaderFieldsAreNamed) {
    const Bytes good = Compress(Level::Fast, TextLike(5000, 8), ContainerKind::Checked);
    const std::string input = TempPath("head.orsk");
    const std::string back = (std::filesystem::path(input).parent_path() / "back").string();
    const struct {
        std::size_t at;
        std::uint8_t value;
        const char* named;
    } cases[] = {{1, 0, "records version 0, which is not a valid version"},
                 {1, 2, "of a newer version"},
                 {1, 255, "of a newer version"},
                 {3, 1, "sets flags this version does not know"},
                 {2, 6, "records no level 0 to 5"}};
    for (const auto& k : cases) {
        Bytes c = good;
        c[k.at] = k.value;
        StoreLE32(&c[4], std::uint32_t(ChunkChecksum(c.data(), 4)));  // the header check: XXH3-64 of bytes 0-3
        ContainerHead head;
        std::string why;
        EXPECT_EQ(ReadContainerHead(c.data(), c.size(), head, &why), Status::Corrupt) << k.named;
        EXPECT_NE(why.find(k.named), std::string::npos) << why;
        EXPECT_EQ(why.find(k.value == 0 ? "newer" : "not a valid"), std::string::npos) << why;
        WriteFileBytes(input, c);
        const FileRunResult r = DecompressFile(LevelFromContainer, input, back, RunOptions{}, nullptr);
        EXPECT_EQ(r.status, Status::Corrupt);
        EXPECT_NE(r.message.find(k.named), std::string::npos) << r.message;
    }
    std::filesystem::remove_all(std::filesystem::path(input).parent_path());
}

// The checks are XXH3-64 whichever instruction set computes them (values of the
// portable scalar build), so containers move between machines.
TEST(CheckedContainer, ChecksumsAreXxh3) {
    Bytes data(100000);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = std::uint8_t((i * 7919) >> 3);
    EXPECT_EQ(ChunkChecksum(data.data(), data.size()), 0x589c89e571d443d2u);
    EXPECT_EQ(BlockCheck(data.data(), data.size(), 12345), 0x0857724c171b55c7u);
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
