// Checked containers: exact header bytes, header fields this reader does not know and
// the checksum's values. Their round trips are tests/roundtrip_test.cpp's, their damage
// tests/hostile_test.cpp's, how every driver reads them tests/reader_test.cpp's.
#include <gtest/gtest.h>

#include <filesystem>

#include "container/format/checked.h"
#include "container/drivers/memory.h"
#include "files/file_driver.h"
#include "orsk/orsk.h"
#include "test_util.h"

namespace orsk::test {
namespace {

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

}  // namespace
}  // namespace orsk::test
