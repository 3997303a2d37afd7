// The level rule of plain containers and the salvage that restores nothing, through
// memory, the C interface and files: a first block that several levels restore alike
// never leads to other bytes, and a salvage with no block restored fails, writing nothing.
#include <gtest/gtest.h>

#include <bit>
#include <cstring>
#include <filesystem>
#include <memory>

#include "container/drivers/memory.h"
#include "container/format/checked.h"
#include "container/format/levels.h"
#include "files/file_driver.h"
#include "orsk/orsk.h"
#include "sample_data.h"
#include "test_util.h"

namespace orsk::test {
namespace {

namespace fs = std::filesystem;

Bytes CompressAs(Level level, const Bytes& in, ContainerKind kind) {
    BlockWorkspace ws;
    Bytes out;
    EXPECT_EQ(CompressBuffer(level, in.data(), in.size(), out, ws, nullptr, kind), Status::Ok);
    return out;
}

// Restores from an allocation exactly as long as the container, so over-reads show.
Status RestoreExact(LevelRequest level, const Bytes& c, Bytes& out, BlockWorkspace& ws, RestoreFacts* facts = nullptr,
                    const DamageObserver* salvage = nullptr) {
    std::unique_ptr<std::uint8_t[]> copy(new std::uint8_t[c.size() + 1]);
    if (!c.empty()) std::memcpy(copy.get(), c.data(), c.size());
    return DecompressBuffer(level, copy.get(), c.size(), out, ws, facts, salvage);
}

class PlainLevelDetection : public ::testing::TestWithParam<int> {};

// A first block of literals only restores alike at several levels (FAST and BETTER read
// it the same), so it cannot tell the level alone; the block behind it, of far matches,
// restores at one of them only, or to other bytes at the other (the shorter tails). With
// the level left to it a restore through memory, the C interface or files gives exactly
// the original or fails with UnknownLevel and writes nothing: never other bytes, never
// damage. Inspect tells what the first block says.
TEST_P(PlainLevelDetection, LevelsAlikeOnTheFirstBlockOnlyNeverRestoreWrongBytes) {
    const int level = GetParam();
    const std::string container = TempPath("alike.orsk");
    const std::string back = (fs::path(container).parent_path() / "back").string();
    BlockWorkspace ws;
    for (const auto& [tail, seed] : {std::pair{100000u, 1u}, {200000u, 4u}, {200000u, 1u}, {300000u, 2u}}) {
        SCOPED_TRACE("tail " + std::to_string(tail) + ", seed " + std::to_string(seed));
        const Bytes data = LiteralLeadThenFarCopies(tail, seed);
        const Bytes c = CompressAs(Level(level), data, ContainerKind::Plain);
        orsk_info info;
        ASSERT_EQ(orsk_inspect(c.data(), c.size(), &info), ORSK_OK);
        EXPECT_TRUE(info.level_mask & (1u << level));
        EXPECT_EQ(info.restored_size, data.size());
        Bytes out;
        ASSERT_EQ(RestoreExact(Level(level), c, out, ws), Status::Ok);
        EXPECT_TRUE(out == data);
        // Blocks restored before a failure may stay behind in the internal call.
        const Status s = RestoreExact(LevelFromContainer, c, out, ws);
        EXPECT_TRUE(s == Status::Ok ? out == data
                                    : s == Status::UnknownLevel && out.size() < data.size() &&
                                          std::equal(out.begin(), out.end(), data.begin()))
            << "status " << int(s) << ", " << out.size() << " bytes";
        Bytes capacity(data.size() + 64);
        size_t n = 0;
        const orsk_status p =
            orsk_decompress(ORSK_LEVEL_FROM_CONTAINER, c.data(), c.size(), capacity.data(), capacity.size(), &n);
        EXPECT_TRUE(p == ORSK_OK ? n == data.size() && std::equal(data.begin(), data.end(), capacity.begin())
                                 : p == ORSK_UNKNOWN_LEVEL && n == 0)
            << "status " << p << ", " << n << " bytes";
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

class Salvage : public ::testing::TestWithParam<std::tuple<int, ContainerKind>> {};

// A salvage that restores nothing fails as the restore does, with nothing written or
// listed: a container whose only block does not restore, in memory, through the C
// interface and through files. A container of no blocks restores to nothing.
TEST_P(Salvage, NothingRestoredFails) {
    const auto [level, kind] = std::tuple{Level(std::get<0>(GetParam())), std::get<1>(GetParam())};
    Bytes damaged = CompressAs(level, TextLike(MaxChunkLength, 75), kind);
    const std::size_t at = kind == ContainerKind::Checked ? CheckedHeaderLength : 1;
    ASSERT_EQ(damaged[at], CompressedBlockKind);
    damaged[at + CompressedHeaderLength + ReadBlockHeader(&damaged[at], LevelOf(level).headerOrder).offsetLowLength] =
        0xEE;  // no section kind
    const std::string input = TempPath("nothing.orsk");
    const std::string back = (fs::path(input).parent_path() / "back").string();
    BlockWorkspace ws;
    const DamageObserver note = [](const DamagedRange&) {};
    Bytes out, capacity(MaxChunkLength + 64);
    for (const auto& [c, fails] : {std::pair{damaged, true}, {CompressAs(level, {}, kind), false}, {Bytes{83}, false}}) {
        SCOPED_TRACE(fails ? "damaged" : "no blocks, " + std::to_string(c.size()) + " bytes");
        const Status restore = RestoreExact(level, c, out, ws);
        EXPECT_EQ(RestoreExact(level, c, out, ws, nullptr, &note), restore);
        EXPECT_EQ(restore != Status::Ok, fails);
        EXPECT_TRUE(out.empty());
        orsk_damaged_range list[4];
        size_t n = 1, count = 1, m = 0;
        const orsk_status p = orsk_salvage(int(level), c.data(), c.size(), capacity.data(), capacity.size(), &n, list,
                                           4, &count);
        EXPECT_EQ(p, orsk_decompress(int(level), c.data(), c.size(), capacity.data(), capacity.size(), &m));
        EXPECT_EQ(n + count, 0u);
        WriteFileBytes(input, c);
        for (std::size_t threads : {1u, 2u}) {
            RunOptions options{threads};
            options.salvage = true;
            const FileRunResult r = DecompressFile(level, input, back, options, nullptr);
            EXPECT_EQ(r.status != Status::Ok, fails) << threads << " threads: " << r.message;
            EXPECT_TRUE(fails ? !fs::exists(back) : fs::exists(back) && fs::file_size(back) == 0) << threads;
            fs::remove(back);
        }
    }
    fs::remove_all(fs::path(input).parent_path());
}

INSTANTIATE_TEST_SUITE_P(Levels, Salvage,
                         ::testing::Combine(::testing::Values(0, 3, 5),
                                            ::testing::Values(ContainerKind::Plain, ContainerKind::Checked)),
                         [](const auto& p) {
                             return "Level" + std::to_string(std::get<0>(p.param)) +
                                    (std::get<1>(p.param) == ContainerKind::Checked ? "Checked" : "Plain");
                         });

}  // namespace
}  // namespace orsk::test
