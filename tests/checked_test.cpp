// Checked containers: round trips at every level over varied data, the same blocks as a
// plain container with their checks and end record, exact header bytes, and every bit
// flip of small containers failing. How every driver reads them is tests/reader_test.cpp.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <memory>

#include "container/format/checked.h"
#include "container/drivers/memory.h"
#include "files/file_driver.h"
#include "orsk/orsk.h"
#include "test_util.h"

namespace orsk::test {
namespace {

Bytes CompressAs(Level level, const Bytes& in, ContainerKind kind) {
    BlockWorkspace ws;
    Bytes out;
    EXPECT_EQ(CompressBuffer(level, in.data(), in.size(), out, ws, nullptr, kind), Status::Ok);
    return out;
}

// Restores from an allocation exactly as long as the container, so over-reads show.
Status RestoreExact(LevelRequest level, const Bytes& c, Bytes& out, BlockWorkspace& ws) {
    std::unique_ptr<std::uint8_t[]> copy(new std::uint8_t[c.size() + 1]);
    if (!c.empty()) std::memcpy(copy.get(), c.data(), c.size());
    return DecompressBuffer(level, copy.get(), c.size(), out, ws);
}

// Where the blocks of a container lie: each block's start, with its check behind it, and
// one more: the end record's offset.
std::vector<std::size_t> BlockStarts(Level level, const Bytes& c) {
    std::vector<std::size_t> starts;
    std::size_t at = CheckedHeaderLength;
    while (at < c.size() && c[at] != EndRecordKind) {
        starts.push_back(at);
        std::size_t total = 0;
        EXPECT_EQ(BlockTotalLength(level, &c[at], total), Status::Ok);
        at += total + BlockCheckLength;
    }
    starts.push_back(at);
    EXPECT_EQ(at + EndRecordLength, c.size());
    return starts;
}

struct Sample {
    const char* name;
    Bytes data;
};

std::vector<Sample> RoundTripSamples() {
    Bytes mixed = TextLike(MaxChunkLength + 4000, 5);
    const Bytes noise = RandomBytes(MaxChunkLength / 2, 6);
    mixed.insert(mixed.end(), noise.begin(), noise.end());
    const Bytes program = ReadFileBytes(ORSK_BINARY);
    return {{"empty", {}},
            {"one byte", {42}},
            {"tiny text", Repeat("abcd", 20)},
            {"text", TextLike(300000, 1)},
            {"binary", BinaryLike(200000, 2)},
            {"random", RandomBytes(100000, 3)},
            {"exactly 1 MiB", Runs(MaxChunkLength, 4)},
            {"1 MiB + 1", TextLike(MaxChunkLength + 1, 7)},
            {"text, noise and a short tail", mixed},
            {"executable", Bytes(program.begin(), program.begin() + std::min<std::size_t>(program.size(), 1500000))}};
}

class CheckedRoundTrip : public ::testing::TestWithParam<int> {};

// Every sample restores through the internal path and the C interface, at the level
// given and at the level recorded, and the blocks are those of the plain container.
TEST_P(CheckedRoundTrip, RestoresAndKeepsThePlainBlocks) {
    const Level level = Level(GetParam());
    BlockWorkspace ws;
    for (const Sample& s : RoundTripSamples()) {
        SCOPED_TRACE(s.name);
        const Bytes plain = CompressAs(level, s.data, ContainerKind::Plain);
        const Bytes checked = CompressAs(level, s.data, ContainerKind::Checked);
        ASSERT_LE(checked.size(), ContainerBound(s.data.size(), ContainerKind::Checked));
        EXPECT_EQ(plain, Compress(level, s.data)) << "plain containers stay as they were";

        // Header, blocks with their checks, end record.
        ASSERT_GE(checked.size(), CheckedHeaderLength + EndRecordLength);
        EXPECT_EQ(checked[0], CheckedMagic);
        EXPECT_EQ(checked[1], CheckedVersion);
        EXPECT_EQ(checked[2], GetParam());
        EXPECT_EQ(checked[3], 0);
        const std::vector<std::size_t> starts = BlockStarts(level, checked);
        const std::size_t blocks = starts.size() - 1;
        EXPECT_EQ(blocks, (s.data.size() + MaxChunkLength - 1) / MaxChunkLength);
        Bytes blocksOnly{ContainerMagic};
        ContentTally tally;
        std::size_t offset = 0;
        for (std::size_t b = 0; b < blocks; ++b) {
            const std::size_t end = starts[b + 1] - BlockCheckLength;
            blocksOnly.insert(blocksOnly.end(), checked.begin() + starts[b], checked.begin() + end);
            const std::size_t n = std::min(MaxChunkLength, s.data.size() - offset);
            const std::uint64_t sum = BlockCheck(&checked[starts[b]], end - starts[b],
                                                 ChunkChecksum(s.data.data() + offset, n));
            EXPECT_EQ(LoadLE64(&checked[end]), sum) << "block " << b;
            tally.Add(sum, n);
            offset += n;
        }
        EXPECT_EQ(s.data.empty() ? Bytes{} : blocksOnly, plain);
        const std::uint8_t* record = &checked[checked.size() - EndRecordLength];
        EXPECT_EQ(record[0], EndRecordKind);
        EXPECT_EQ(LoadLE64(record + 1), blocks);
        EXPECT_EQ(LoadLE64(record + 9), s.data.size());
        EXPECT_EQ(LoadLE64(record + 17), tally.checksum);

        // Restored at the level it records; the C call writes the same container.
        Bytes back;
        ASSERT_EQ(RestoreExact(LevelFromContainer, checked, back, ws), Status::Ok);
        EXPECT_TRUE(back == s.data);
        Bytes packed(orsk_compress_bound_ex(s.data.size(), ORSK_CHECKED));
        size_t n = 0;
        ASSERT_EQ(orsk_compress_ex(GetParam(), ORSK_CHECKED, s.data.data(), s.data.size(), packed.data(), packed.size(),
                                   &n),
                  ORSK_OK);
        packed.resize(n);
        EXPECT_EQ(packed, checked);
    }
}

INSTANTIATE_TEST_SUITE_P(Levels, CheckedRoundTrip, ::testing::Range(0, LevelCount));

TEST(CheckedContainer, EmptyInputAndHeaderBytes) {
    const Bytes c = CompressAs(Level::Normal, {}, ContainerKind::Checked);
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
    const Bytes good = CompressAs(Level::Fast, TextLike(5000, 8), ContainerKind::Checked);
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

class CheckedDamage : public ::testing::TestWithParam<int> {};

// Every single-bit flip of small checked containers (header, block, check and end
// record) fails; the reader matrix holds the C calls to the same statuses.
TEST_P(CheckedDamage, EveryBitFlipFails) {
    const Level level = Level(GetParam());
    BlockWorkspace ws;
    for (const Bytes& data : {TextLike(2000, 50), RandomBytes(300, 51), Repeat("abcd", 20), Bytes{}}) {
        const Bytes c = CompressAs(level, data, ContainerKind::Checked);
        Bytes damaged = c, out;
        for (std::size_t at = 0; at < c.size(); ++at) {
            for (int bit = 0; bit < 8; ++bit) {
                damaged[at] = std::uint8_t(c[at] ^ (1 << bit));
                ASSERT_NE(RestoreExact(LevelFromContainer, damaged, out, ws), Status::Ok) << "byte " << at << " bit " << bit;
            }
            damaged[at] = c[at];
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Levels, CheckedDamage, ::testing::Range(0, LevelCount));

}  // namespace
}  // namespace orsk::test
