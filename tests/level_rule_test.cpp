// The level rule of plain containers through memory and files (the C calls and streams
// agree with memory: tests/reader_test.cpp): a first block that several levels restore
// alike never leads to other bytes.
#include <gtest/gtest.h>

#include <filesystem>

#include "container/drivers/memory.h"
#include "files/file_driver.h"
#include "orsk/orsk.h"
#include "sample_data.h"
#include "test_util.h"

namespace orsk::test {
namespace {

namespace fs = std::filesystem;

class PlainLevelDetection : public ::testing::TestWithParam<int> {};

// A first block of literals only restores alike at several levels (FAST and BETTER read
// it the same), so it cannot tell the level alone; the block behind it, of far matches,
// restores at one of them only, or to other bytes at the other (the shorter tails). With
// the level left to it a restore through memory or files gives exactly
// the original or fails with UnknownLevel and writes nothing: never other bytes, never
// damage. Inspect tells what the first block says.
TEST_P(PlainLevelDetection, LevelsAlikeOnTheFirstBlockOnlyNeverRestoreWrongBytes) {
    const int level = GetParam();
    const std::string container = TempPath("alike.orsk");
    const std::string back = (fs::path(container).parent_path() / "back").string();
    for (const auto& [tail, seed] : {std::pair{100000u, 1u}, {200000u, 4u}, {200000u, 1u}, {300000u, 2u}}) {
        SCOPED_TRACE("tail " + std::to_string(tail) + ", seed " + std::to_string(seed));
        const Bytes data = LiteralLeadThenFarCopies(tail, seed);
        const Bytes c = Compress(Level(level), data);
        orsk_info info;
        ASSERT_EQ(orsk_inspect(c.data(), c.size(), &info), ORSK_OK);
        EXPECT_TRUE(info.level_mask & (1u << level));
        EXPECT_EQ(info.restored_size, data.size());
        Bytes out;
        ASSERT_EQ(Decompress(Level(level), c, out), Status::Ok);
        EXPECT_TRUE(out == data);
        // Blocks restored before a failure may stay behind in the internal call.
        const Status s = Decompress(LevelFromContainer, c, out);
        EXPECT_TRUE(s == Status::Ok ? out == data
                                    : s == Status::UnknownLevel && out.size() < data.size() &&
                                          std::equal(out.begin(), out.end(), data.begin()))
            << "status " << int(s) << ", " << out.size() << " bytes";
        WriteFileBytes(container, c);
        for (std::size_t threads : {1u, 2u}) {
            const FileRunResult r = DecompressFile(LevelFromContainer, container, back, RunOptions{threads}, nullptr);
            EXPECT_TRUE(r.status == Status::Ok ? ReadFileBytes(back) == data
                                               : r.status == Status::UnknownLevel && !fs::exists(back))
                << r.message;
            fs::remove(back);
        }
    }
    fs::remove_all(fs::path(container).parent_path());
}

INSTANTIATE_TEST_SUITE_P(Levels, PlainLevelDetection, ::testing::Range(0, LevelCount));

}  // namespace
}  // namespace orsk::test
