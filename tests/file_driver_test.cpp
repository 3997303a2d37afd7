// The file drivers keep a user's data safe: an existing output survives every failed
// run and no temporary file is left behind; threaded runs write the same container,
// plain or checked.
#include <gtest/gtest.h>

#include <filesystem>

#include "container/drivers/memory.h"
#include "files/file_driver.h"
#include "platform/platform.h"
#include "test_util.h"

namespace orsk::test {
namespace {

namespace fs = std::filesystem;

std::size_t FilesIn(const fs::path& dir) {
    return std::size_t(std::distance(fs::directory_iterator(dir), fs::directory_iterator()));
}

TEST(FileDrivers, ExistingOutputSurvivesEveryFailure) {
    const std::string input = TempPath("input.bin");
    const fs::path dir = fs::path(input).parent_path();
    const std::string output = (dir / "output.orsk").string();
    WriteFileBytes(input, TextLike(3 * MaxChunkLength + 99, 31));
    const Bytes precious = RandomBytes(777, 32);
    WriteFileBytes(output, precious);
    const RunOptions options{2};

    // A disk that fills up after the first block, while compressing and restoring.
    for (std::int64_t budget : {0, 1, 200000}) {
        const FileRunResult r = CompressFile(Level::Fast, input, output, RunOptions{2, budget}, nullptr);
        EXPECT_EQ(r.status, Status::WriteFailed);
        EXPECT_NE(r.message.find("output.orsk"), std::string::npos) << r.message;
        EXPECT_EQ(ReadFileBytes(output), precious);
        EXPECT_EQ(FilesIn(dir), 2u) << "a temporary file was left behind";
    }
    const std::string container = (dir / "good.orsk").string();
    ASSERT_EQ(CompressFile(Level::Fast, input, container, options, nullptr).status, Status::Ok);
    EXPECT_EQ(DecompressFile(Level::Fast, container, output, RunOptions{2, 5000}, nullptr).status, Status::WriteFailed);
    EXPECT_EQ(ReadFileBytes(output), precious);

    // A block that does not restore its chunk when verified: nothing is written.
    for (std::size_t threads : {1u, 2u}) {
        RunOptions verified{threads};
        verified.verify = true;
        verified.failVerifyAt = 2;
        const FileRunResult r = CompressFile(Level::Fast, input, output, verified, nullptr);
        EXPECT_EQ(r.status, Status::Corrupt);
        EXPECT_NE(r.message.find("verification failed: block 2 of"), std::string::npos) << r.message;
        EXPECT_EQ(ReadFileBytes(output), precious);
    }

    EXPECT_EQ(FilesIn(dir), 3u);
    fs::remove_all(dir);
}

TEST(FileDriversSlow, ThreadCountNeverChangesTheContainer) {
    const std::string input = TempPath("mixed.bin");
    const fs::path dir = fs::path(input).parent_path();
    Bytes data = TextLike(2 * MaxChunkLength, 33);
    const Bytes noise = RandomBytes(MaxChunkLength, 34);
    data.insert(data.end(), noise.begin(), noise.end());
    const Bytes runs = Runs(MaxChunkLength + 5, 35);
    data.insert(data.end(), runs.begin(), runs.end());
    WriteFileBytes(input, data);
    BlockWorkspace ws;
    for (ContainerKind kind : {ContainerKind::Plain, ContainerKind::Checked}) {
        for (int l = 0; l < LevelCount; ++l) {
            Bytes expected;
            ASSERT_EQ(CompressBuffer(Level(l), data.data(), data.size(), expected, ws, nullptr, kind), Status::Ok);
            // A checked container is restored and verified at the level it records.
            const LevelRequest level = kind == ContainerKind::Checked ? LevelFromContainer : LevelRequest(Level(l));
            for (std::size_t threads : {1u, 3u}) {
                const std::string out = (dir / ("t" + std::to_string(threads))).string();
                // Verified block by block as they are made, which changes nothing they are.
                RunOptions options{threads};
                options.container = kind;
                options.verify = threads > 1;
                const FileRunResult r = CompressFile(Level(l), input, out, options, nullptr);
                ASSERT_EQ(r.status, Status::Ok);
                EXPECT_EQ(r.totals.blocks, 5u);
                EXPECT_TRUE(ReadFileBytes(out) == expected) << "level " << l << ", " << threads << " threads";
                const std::string back = out + ".back";
                ASSERT_EQ(DecompressFile(level, out, back, RunOptions{threads}, nullptr).status, Status::Ok);
                EXPECT_TRUE(ReadFileBytes(back) == data);
            }
        }
    }
    fs::remove_all(dir);
}

}  // namespace
}  // namespace orsk::test
