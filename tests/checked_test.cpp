// Checked containers: round trips at every level through memory, the C interface and
// files; the same blocks as a plain container; the recorded level; damage of every
// kind (bit flips, random bytes, cuts, lost and repeated blocks) that must fail; and
// the salvage of damaged plain and checked containers.
#include <gtest/gtest.h>

#include <bit>
#include <cstring>
#include <filesystem>
#include <memory>

#include "container/format/checked.h"
#include "files/file_driver.h"
#include "container/reader/level_probe.h"
#include "container/format/levels.h"
#include "container/drivers/memory.h"
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
Status RestoreExact(LevelRequest level, const Bytes& c, Bytes& out, BlockWorkspace& ws, RestoreFacts* facts = nullptr,
                    const DamageObserver* salvage = nullptr) {
    std::unique_ptr<std::uint8_t[]> copy(new std::uint8_t[c.size() + 1]);
    if (!c.empty()) std::memcpy(copy.get(), c.data(), c.size());
    return DecompressBuffer(level, copy.get(), c.size(), out, ws, facts, salvage);
}

// Where the blocks of a container lie: [start, end) of each block and of its check.
struct Layout {
    std::vector<std::size_t> blockStart;  // and one more: the end record's offset, or the end
};
Layout BlocksOf(Level level, const Bytes& c) {
    Layout l;
    const bool checked = c[0] == CheckedMagic;
    std::size_t at = checked ? CheckedHeaderLength : 1;
    while (at < c.size() && !(checked && c[at] == EndRecordKind)) {
        l.blockStart.push_back(at);
        std::size_t total = 0;
        EXPECT_EQ(BlockTotalLength(level, &c[at], total), Status::Ok);
        at += total + (checked ? BlockCheckLength : 0);
    }
    l.blockStart.push_back(at);
    EXPECT_EQ(at + (checked ? EndRecordLength : 0), c.size());
    return l;
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
        const Layout l = BlocksOf(level, checked);
        const std::size_t blocks = l.blockStart.size() - 1;
        EXPECT_EQ(blocks, (s.data.size() + MaxChunkLength - 1) / MaxChunkLength);
        Bytes blocksOnly{ContainerMagic};
        ContentTally tally;
        std::size_t offset = 0;
        for (std::size_t b = 0; b < blocks; ++b) {
            const std::size_t end = l.blockStart[b + 1] - BlockCheckLength;
            blocksOnly.insert(blocksOnly.end(), checked.begin() + l.blockStart[b], checked.begin() + end);
            const std::size_t n = std::min(MaxChunkLength, s.data.size() - offset);
            const std::uint64_t sum = BlockCheck(&checked[l.blockStart[b]], end - l.blockStart[b],
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

        for (LevelRequest request : {LevelRequest(level), LevelFromContainer}) {
            Bytes back;
            RestoreFacts facts;
            ASSERT_EQ(RestoreExact(request, checked, back, ws, &facts), Status::Ok);
            EXPECT_TRUE(back == s.data);
            EXPECT_EQ(facts.kind, ContainerKind::Checked);
            EXPECT_EQ(facts.level, LevelRequest(level));
            EXPECT_FALSE(facts.levelDetected);
        }
        for (int other = 0; other < LevelCount; ++other) {
            Bytes back;
            if (other != GetParam()) {
                EXPECT_EQ(RestoreExact(Level(other), checked, back, ws), Status::WrongLevel);
            }
        }

        // The C interface: flags, bound, level from the container, sizes and facts.
        Bytes packed(orsk_compress_bound_ex(s.data.size(), ORSK_CHECKED));
        size_t n = 0;
        ASSERT_EQ(orsk_compress_ex(GetParam(), ORSK_CHECKED, s.data.data(), s.data.size(), packed.data(), packed.size(),
                                   &n),
                  ORSK_OK);
        packed.resize(n);
        EXPECT_EQ(packed, checked);
        std::uint64_t size = 0;
        ASSERT_EQ(orsk_decompressed_size(ORSK_LEVEL_FROM_CONTAINER, packed.data(), n, &size), ORSK_OK);
        EXPECT_EQ(size, s.data.size());
        Bytes back(s.data.size() + 1);
        for (int given : {ORSK_LEVEL_FROM_CONTAINER, GetParam()}) {
            size_t m = 0;
            ASSERT_EQ(orsk_decompress(given, packed.data(), n, back.data(), back.size(), &m), ORSK_OK);
            EXPECT_EQ(m, s.data.size());
            EXPECT_TRUE(std::equal(s.data.begin(), s.data.end(), back.begin()));
        }
        size_t m = 0;
        EXPECT_EQ(orsk_decompress((GetParam() + 1) % LevelCount, packed.data(), n, back.data(), back.size(), &m),
                  ORSK_WRONG_LEVEL);
        orsk_info info;
        ASSERT_EQ(orsk_inspect(packed.data(), n, &info), ORSK_OK);
        EXPECT_EQ(info.checked, 1);
        EXPECT_EQ(info.level, GetParam());
        EXPECT_EQ(info.level_detected, 0);
        EXPECT_EQ(info.level_mask, 1u << GetParam());
        EXPECT_EQ(info.blocks, blocks);
        EXPECT_EQ(info.restored_size, s.data.size());
        EXPECT_LE(info.stored_blocks, info.blocks);
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

// Ways to damage a container; every one must make the restore fail.
struct Damage {
    std::string what;
    Bytes container;
};

std::vector<Damage> Damaged(Level level, const Bytes& c) {
    std::vector<Damage> out;
    const Layout l = BlocksOf(level, c);
    const std::size_t blocks = l.blockStart.size() - 1;
    const auto cut = [&](std::size_t at) { return Bytes(c.begin(), c.begin() + at); };
    // (A cut to nothing leaves an empty file: an empty plain container.)
    for (std::size_t at : {1, 5, 7}) out.push_back({"cut inside the header at " + std::to_string(at), cut(at)});
    for (std::size_t b = 0; b <= blocks; ++b) {
        const std::size_t at = l.blockStart[b];
        out.push_back({"cut at the start of block " + std::to_string(b), cut(at)});
        out.push_back({"cut inside block " + std::to_string(b), cut(at + 1)});
        out.push_back({"cut 9 bytes into block " + std::to_string(b), cut(at + 9)});
        if (b == 0) continue;
        out.push_back({"cut before the check of block " + std::to_string(b - 1), cut(at - BlockCheckLength)});
        out.push_back({"cut inside the check of block " + std::to_string(b - 1), cut(at - 3)});
        out.push_back({"cut in the middle of block " + std::to_string(b - 1), cut((l.blockStart[b - 1] + at) / 2)});
    }
    out.push_back({"cut inside the end record", cut(c.size() - 1)});
    out.push_back({"byte behind the end record", c});
    out.back().container.push_back(0);
    const auto span = [&](std::size_t b) { return std::pair{l.blockStart[b], l.blockStart[b + 1]}; };
    for (std::size_t b = 0; b < blocks; ++b) {
        Bytes lost = c;
        lost.erase(lost.begin() + span(b).first, lost.begin() + span(b).second);
        out.push_back({"block " + std::to_string(b) + " lost", lost});
        Bytes twice = c;
        twice.insert(twice.begin() + span(b).second, c.begin() + span(b).first, c.begin() + span(b).second);
        out.push_back({"block " + std::to_string(b) + " twice", twice});
    }
    if (blocks >= 2) {
        Bytes swapped(c.begin(), c.begin() + span(0).first);
        swapped.insert(swapped.end(), c.begin() + span(1).first, c.begin() + span(1).second);
        swapped.insert(swapped.end(), c.begin() + span(0).first, c.begin() + span(0).second);
        swapped.insert(swapped.end(), c.begin() + span(1).second, c.end());
        out.push_back({"blocks 0 and 1 swapped", swapped});
    }
    std::uint32_t seed = 7 + std::uint32_t(level);
    for (int round = 0; round < 40; ++round) {
        Bytes d = c;
        const int bytes = 2 + round % 7;
        for (int k = 0; k < bytes; ++k) {
            seed = seed * 1664525u + 1013904223u;
            const std::size_t at = (seed >> 8) % d.size();
            d[at] = std::uint8_t(d[at] ^ (1 + (seed >> 3) % 255));
        }
        out.push_back({"random damage, round " + std::to_string(round), d});
    }
    return out;
}

class CheckedDamage : public ::testing::TestWithParam<int> {};

// Cuts, lost, repeated and swapped blocks and random damage of a three-block container.
TEST_P(CheckedDamage, EveryCutAndDamageFails) {
    const Level level = Level(GetParam());
    Bytes data = TextLike(MaxChunkLength, 40);
    const Bytes runs = Runs(MaxChunkLength, 41);
    data.insert(data.end(), runs.begin(), runs.end());
    data.resize(data.size() + 3000, 'x');
    const Bytes c = CompressAs(level, data, ContainerKind::Checked);
    BlockWorkspace ws;
    for (const Damage& d : Damaged(level, c)) {
        for (LevelRequest request : {LevelRequest(level), LevelFromContainer}) {
            Bytes out;
            RestoreFacts facts;
            const Status s = RestoreExact(request, d.container, out, ws, &facts);
            ASSERT_NE(s, Status::Ok) << d.what;
            // Blocks before a damaged one are kept; lost or repeated blocks show at the end.
            if (!facts.atEndRecord) {
                EXPECT_LE(out.size(), data.size()) << d.what;
                EXPECT_TRUE(std::equal(out.begin(), out.end(), data.begin())) << d.what;
            }
        }
        size_t n = 0;
        Bytes out(data.size() + 64);
        EXPECT_NE(orsk_decompress(ORSK_LEVEL_FROM_CONTAINER, d.container.data(), d.container.size(), out.data(),
                                  out.size(), &n),
                  ORSK_OK)
            << d.what;
    }
    // The failure names the block or the end record.
    const Layout l = BlocksOf(level, c);
    Bytes flipped = c;
    flipped[l.blockStart[1] + 40] ^= 4;
    Bytes out;
    RestoreFacts facts;
    EXPECT_NE(RestoreExact(level, flipped, out, ws, &facts), Status::Ok);
    EXPECT_EQ(facts.blocks, 1u);
    EXPECT_FALSE(facts.atEndRecord);
    EXPECT_EQ(out.size(), MaxChunkLength);
    const Bytes cut(c.begin(), c.begin() + l.blockStart.back());
    EXPECT_EQ(RestoreExact(level, cut, out, ws, &facts), Status::Truncated);
    EXPECT_TRUE(facts.atEndRecord);
    EXPECT_EQ(facts.blocks, 3u);
}

// Every single-bit flip of small checked containers (header, block, check and end
// record) fails, through the internal path and the C interface.
TEST_P(CheckedDamage, EveryBitFlipFails) {
    const Level level = Level(GetParam());
    BlockWorkspace ws;
    for (const Bytes& data : {TextLike(2000, 50), RandomBytes(300, 51), Repeat("abcd", 20), Bytes{}}) {
        const Bytes c = CompressAs(level, data, ContainerKind::Checked);
        Bytes damaged = c, out, capacity(data.size() + 64);
        for (std::size_t at = 0; at < c.size(); ++at) {
            for (int bit = 0; bit < 8; ++bit) {
                damaged[at] = std::uint8_t(c[at] ^ (1 << bit));
                ASSERT_NE(RestoreExact(LevelFromContainer, damaged, out, ws), Status::Ok) << "byte " << at << " bit " << bit;
                size_t n = 0;
                ASSERT_NE(orsk_decompress(GetParam(), damaged.data(), damaged.size(), capacity.data(), capacity.size(), &n),
                          ORSK_OK)
                    << "byte " << at << " bit " << bit;
            }
            damaged[at] = c[at];
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Levels, CheckedDamage, ::testing::Range(0, LevelCount));

namespace fs = std::filesystem;

class PlainLevelDetection : public ::testing::TestWithParam<int> {};

// A plain container restores with the level left to it, through memory, the C interface
// and files: at the level its first compressed block tells, or at any when all its
// blocks are stored; the facts say so.
TEST_P(PlainLevelDetection, TellsTheLevelFromTheFirstCompressedBlock) {
    const Level level = Level(GetParam());
    const Bytes program = ReadFileBytes(ORSK_BINARY);
    const struct {
        const char* name;
        Bytes data;
        bool storedOnly;  // at every level (the executable is at levels 0 and 1 too)
    } samples[] = {
        {"text", TextLike(300000, 70), false},
        {"executable", Bytes(program.begin(), program.begin() + std::min<std::size_t>(program.size(), 1200000)), false},
        {"executable-like", BinaryLike(200000, 71), false},
        {"stored, then text", Concat({RandomBytes(MaxChunkLength, 72), TextLike(5000, 73)}), false},
        {"stored only", RandomBytes(MaxChunkLength + 1, 74), true},
        {"empty", {}, true},
    };
    const std::string container = TempPath("plain.orsk");
    const std::string back = (fs::path(container).parent_path() / "back").string();
    BlockWorkspace ws;
    for (const auto& s : samples) {
        SCOPED_TRACE(s.name);
        const Bytes c = CompressAs(level, s.data, ContainerKind::Plain);
        orsk_info info;
        ASSERT_EQ(orsk_inspect(c.data(), c.size(), &info), ORSK_OK);
        const bool storedOnly = info.stored_blocks == info.blocks;
        EXPECT_TRUE(storedOnly || !s.storedOnly);
        Bytes out;
        RestoreFacts facts;
        ASSERT_EQ(RestoreExact(LevelFromContainer, c, out, ws, &facts), Status::Ok);
        EXPECT_TRUE(out == s.data);
        EXPECT_EQ(facts.kind, ContainerKind::Plain);
        EXPECT_TRUE(facts.levelDetected);
        ASSERT_TRUE(facts.level);
        // The lowest level that restores the first compressed block, or any.
        EXPECT_EQ(std::countr_zero(facts.candidates), int(*facts.level));
        EXPECT_EQ(facts.candidates, storedOnly ? AllLevels : facts.candidates | (1u << GetParam()));
        EXPECT_EQ(info.checked, 0);
        EXPECT_EQ(info.level_detected, 1);
        EXPECT_EQ(info.level, int(*facts.level));
        EXPECT_EQ(info.level_mask, facts.candidates);
        EXPECT_EQ(info.restored_size, s.data.size());

        WriteFileBytes(container, c);
        for (std::size_t threads : {1u, 2u}) {
            const FileRunResult r = DecompressFile(LevelFromContainer, container, back, RunOptions{threads}, nullptr);
            ASSERT_EQ(r.status, Status::Ok) << r.message;
            EXPECT_TRUE(ReadFileBytes(back) == s.data);
            EXPECT_EQ(r.restore.level, facts.level);
            EXPECT_TRUE(r.restore.levelDetected);
            EXPECT_EQ(r.restore.candidates, facts.candidates);
        }
        ContainerFacts file;
        ASSERT_EQ(InspectFile(container, file).status, Status::Ok);
        EXPECT_EQ(file.restore.level, facts.level);
        EXPECT_EQ(file.restore.candidates, facts.candidates);
        EXPECT_EQ(file.blocks, info.blocks);
        EXPECT_EQ(file.storedBlocks, info.stored_blocks);
        EXPECT_EQ(file.restoredLength, s.data.size());
    }
    fs::remove_all(fs::path(container).parent_path());
}

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

// FAST and BETTER share their sequence format but for the number of recent offsets, so a
// FAST block whose only match lies 700 bytes back restores at BETTER too, 256 bytes
// nearer: the level cannot be told, and the candidates are named. A damaged first
// compressed block restores at no level.
TEST(UntoldLevel, RefusedWhenTheLevelsDifferOrNoneRestores) {
    const Bytes start = NoRepeats(700);
    const Bytes data = Concat({start, Bytes(start.begin(), start.begin() + 300)});
    const Bytes c = CompressAs(Level::Fast, data, ContainerKind::Plain);
    const Bytes cut(c.begin(), c.end() - 1);
    const std::string container = TempPath("differs.orsk");
    const std::string back = (fs::path(container).parent_path() / "back").string();
    BlockWorkspace ws;
    for (const auto& [bytes, candidates] : {std::pair{c, 0x14u}, std::pair{cut, 0u}}) {
        Bytes out;
        RestoreFacts facts;
        EXPECT_EQ(RestoreExact(LevelFromContainer, bytes, out, ws, &facts), Status::UnknownLevel);
        EXPECT_EQ(facts.candidates, candidates);
        EXPECT_FALSE(facts.level);
        orsk_info info;
        EXPECT_EQ(orsk_inspect(bytes.data(), bytes.size(), &info), ORSK_UNKNOWN_LEVEL);
        EXPECT_EQ(info.level, -1);
        EXPECT_EQ(info.level_mask, candidates);
        WriteFileBytes(container, bytes);
        const FileRunResult r = DecompressFile(LevelFromContainer, container, back, RunOptions{2}, nullptr);
        EXPECT_EQ(r.status, Status::UnknownLevel);
        EXPECT_NE(r.message.find(candidates ? "block 0 of '" + container + "' restores to different bytes at levels 2 "
                                              "and 4: give -m2 or -m4"
                                            : "restores at no level"),
                  std::string::npos)
            << r.message;
        EXPECT_FALSE(fs::exists(back));
        ContainerFacts file;
        EXPECT_EQ(InspectFile(container, file).status, Status::UnknownLevel);
        EXPECT_EQ(file.restore.candidates, candidates);
    }
    Bytes out;
    ASSERT_EQ(RestoreExact(Level::Fast, c, out, ws), Status::Ok);
    EXPECT_TRUE(out == data);
    fs::remove_all(fs::path(container).parent_path());
}

// Through files: the same container whatever the thread count, restored at the level
// given or recorded; damage names the block or the end record and leaves no output.
TEST(CheckedFiles, RoundTripsAndDamage) {
    const std::string input = TempPath("input.bin");
    const fs::path dir = fs::path(input).parent_path();
    Bytes data = TextLike(MaxChunkLength + 5000, 60);
    const Bytes noise = RandomBytes(MaxChunkLength, 61);
    data.insert(data.end(), noise.begin(), noise.end());
    WriteFileBytes(input, data);
    const std::string container = (dir / "c.orsk").string(), back = (dir / "back").string();
    for (int l = 0; l < LevelCount; ++l) {
        const Level level = Level(l);
        const Bytes expected = CompressAs(level, data, ContainerKind::Checked);
        for (std::size_t threads : {1u, 3u}) {
            RunOptions options{threads};
            options.container = ContainerKind::Checked;
            ASSERT_EQ(CompressFile(level, input, container, options, nullptr).status, Status::Ok);
            EXPECT_TRUE(ReadFileBytes(container) == expected) << "level " << l << ", " << threads << " threads";
            for (LevelRequest request : {LevelRequest(level), LevelFromContainer}) {
                const FileRunResult r = DecompressFile(request, container, back, options, nullptr);
                ASSERT_EQ(r.status, Status::Ok) << r.message;
                EXPECT_TRUE(ReadFileBytes(back) == data);
                EXPECT_EQ(r.restore.kind, ContainerKind::Checked);
                EXPECT_EQ(r.restore.level, LevelRequest(level));
                EXPECT_EQ(r.bytesIn, expected.size());
            }
            fs::remove(back);
        }
        const FileRunResult wrong = DecompressFile(Level((l + 2) % LevelCount), container, back, RunOptions{}, nullptr);
        EXPECT_EQ(wrong.status, Status::WrongLevel);
        EXPECT_NE(wrong.message.find("level " + std::to_string(l) + " (" + LevelName(level) + ")"), std::string::npos)
            << wrong.message;
        ContainerFacts facts;
        ASSERT_EQ(InspectFile(container, facts).status, Status::Ok);
        EXPECT_EQ(facts.restore.kind, ContainerKind::Checked);
        EXPECT_EQ(facts.restore.level, LevelRequest(level));
        EXPECT_EQ(facts.blocks, 3u);
        EXPECT_GE(facts.storedBlocks, 1u);
        EXPECT_EQ(facts.restoredLength, data.size());

        // Damage, restored by files with one and with three threads.
        const Layout layout = BlocksOf(level, expected);
        struct Case {
            Bytes bytes;
            std::string named;
        };
        std::vector<Case> cases;
        Bytes flipped = expected;
        flipped[layout.blockStart[1] + 20] ^= 0x10;
        cases.push_back({flipped, "block 1"});
        flipped = expected;
        flipped[layout.blockStart[3] - 2] ^= 0x01;
        cases.push_back({flipped, "block 2"});
        cases.push_back({Bytes(expected.begin(), expected.begin() + layout.blockStart[2]), "end record"});
        cases.push_back({Bytes(expected.begin(), expected.end() - 4), "end record"});
        Bytes lost(expected.begin(), expected.begin() + layout.blockStart[1]);
        lost.insert(lost.end(), expected.begin() + layout.blockStart[2], expected.end());
        cases.push_back({lost, "end record"});
        flipped = expected;
        flipped[expected.size() - 3] ^= 0x80;
        cases.push_back({flipped, "end record"});
        for (const Case& c : cases) {
            WriteFileBytes(container, c.bytes);
            for (std::size_t threads : {1u, 3u}) {
                const FileRunResult r = DecompressFile(LevelFromContainer, container, back, RunOptions{threads}, nullptr);
                EXPECT_NE(r.status, Status::Ok) << c.named;
                EXPECT_NE(r.message.find(c.named), std::string::npos) << r.message;
                EXPECT_FALSE(fs::exists(back)) << c.named;
            }
        }
    }
    fs::remove_all(dir);
}

// Salvage of a container of four blocks (the last one short) at levels 0, 3 and 5,
// plain and checked: damaged blocks become zeros at their offsets and are listed in
// order, alike in memory, through the C interface and through files at one and two
// threads; without salvage the same containers fail and leave no output.
class Salvage : public ::testing::TestWithParam<std::tuple<int, ContainerKind>> {};

std::string Listed(std::uint64_t block, std::uint64_t offset, std::uint64_t length, int why) {
    return std::to_string(block) + "@" + std::to_string(offset) + "+" + std::to_string(length) + ":" +
           std::to_string(why) + " ";
}
std::string Listed(const DamagedRange& d) {
    constexpr int number[] = {ORSK_DAMAGE_CHECKSUM, ORSK_DAMAGE_CORRUPT, ORSK_DAMAGE_CUT_SHORT, ORSK_DAMAGE_END_RECORD};
    return Listed(d.block, d.offset, d.length, number[int(d.why)]);
}

TEST_P(Salvage, GoodBlocksKeepTheirOffsets) {
    const Level level = Level(std::get<0>(GetParam()));
    const bool checked = std::get<1>(GetParam()) == ContainerKind::Checked;
    const Bytes data = TextLike(3 * MaxChunkLength + 5000, 70);
    const Bytes c = CompressAs(level, data, std::get<1>(GetParam()));
    const std::vector<std::size_t> at = BlocksOf(level, c).blockStart;
    ASSERT_EQ(at.size(), 5u);
    const std::string input = TempPath("salvage.orsk");
    const fs::path dir = fs::path(input).parent_path();
    const std::string back = (dir / "back").string();
    const struct {
        const char* what;
        std::vector<std::size_t> damaged;
        std::size_t cut;  // the container's length; 0: whole
        bool lose1;       // block 1 taken out
    } cases[] = {{"intact", {}, 0, false},
                 {"block 1", {1}, 0, false},
                 {"blocks 0 and 2", {0, 2}, 0, false},
                 {"the last block", {3}, 0, false},
                 {"cut inside block 2", {}, (at[2] + at[3]) / 2, false},
                 {"cut behind block 2", {}, at[3], false},
                 {"block 1 lost", {}, 0, true}};
    BlockWorkspace ws;
    for (const auto& k : cases) {
        SCOPED_TRACE(k.what);
        Bytes d = c, expected = data;
        std::string ranges;
        for (std::size_t b : k.damaged) {
            const std::size_t length = std::min(MaxChunkLength, data.size() - b * MaxChunkLength);
            if (checked) {
                d[at[b + 1] - 1] ^= 1;  // the block's check
            } else {
                ASSERT_EQ(c[at[b]], CompressedBlockKind);
                const BlockHeader h = ReadBlockHeader(&c[at[b]], LevelOf(level).headerOrder);
                d[at[b] + CompressedHeaderLength + h.offsetLowLength] = 0xEE;  // no section kind
            }
            std::fill_n(expected.begin() + std::ptrdiff_t(b * MaxChunkLength), length, 0);
            ranges += Listed(b, b * MaxChunkLength, length, checked ? ORSK_DAMAGE_CHECKSUM : ORSK_DAMAGE_CORRUPT);
        }
        if (k.cut != 0) {
            d.resize(k.cut);
            expected.resize(3 * MaxChunkLength);
            if (k.cut != at[3]) {
                std::fill(expected.begin() + 2 * MaxChunkLength, expected.end(), 0);
                ranges += Listed(2, 2 * MaxChunkLength, MaxChunkLength, ORSK_DAMAGE_CUT_SHORT);
            } else if (checked) {  // a plain container cut there is whole, only shorter
                ranges += Listed(3, 3 * MaxChunkLength, 0, ORSK_DAMAGE_CUT_SHORT);
            }
        }
        if (k.lose1) {  // a plain container without it is whole; a checked one's end record misses it
            d.erase(d.begin() + std::ptrdiff_t(at[1]), d.begin() + std::ptrdiff_t(at[2]));
            expected.erase(expected.begin() + MaxChunkLength, expected.begin() + 2 * MaxChunkLength);
            if (checked) ranges += Listed(3, expected.size(), 0, ORSK_DAMAGE_END_RECORD);
        }
        std::string listed;
        const DamageObserver note = [&](const DamagedRange& r) { listed += Listed(r); };
        Bytes out;
        EXPECT_EQ(RestoreExact(level, d, out, ws) == Status::Ok, ranges.empty());
        ASSERT_EQ(RestoreExact(level, d, out, ws, nullptr, &note), Status::Ok);
        EXPECT_TRUE(out == expected);
        EXPECT_EQ(listed, ranges);

        Bytes capacity(data.size() + 64);
        std::vector<orsk_damaged_range> list(8);
        size_t n = 0, count = 0;
        EXPECT_EQ(orsk_salvage(int(level), d.data(), d.size(), capacity.data(), capacity.size(), &n, list.data(),
                               list.size(), &count),
                  ranges.empty() ? ORSK_OK : ORSK_DAMAGED);
        listed.clear();
        for (std::size_t i = 0; i < count; ++i) listed += Listed(list[i].block, list[i].offset, list[i].length, list[i].why);
        EXPECT_EQ(listed, ranges);
        EXPECT_TRUE(n == expected.size() && std::equal(expected.begin(), expected.end(), capacity.begin()));

        WriteFileBytes(input, d);
        for (std::size_t threads : {1u, 2u}) {
            RunOptions options{threads};
            options.salvage = true;
            const FileRunResult r = DecompressFile(level, input, back, options, nullptr);
            ASSERT_EQ(r.status, Status::Ok) << r.message;
            EXPECT_TRUE(ReadFileBytes(back) == expected) << threads << " threads";
            listed.clear();
            for (const DamagedRange& range : r.damaged) listed += Listed(range);
            EXPECT_EQ(listed, ranges) << threads << " threads";
            fs::remove(back);
            if (!ranges.empty()) {
                EXPECT_NE(DecompressFile(level, input, back, RunOptions{threads}, nullptr).status, Status::Ok);
                EXPECT_FALSE(fs::exists(back));
            }
        }
    }
    fs::remove_all(dir);
}

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
