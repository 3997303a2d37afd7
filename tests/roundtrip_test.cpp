// Round trips at every level over each kind of data and the sizes around the chunk
// length, through both memory paths, plain and checked: containers stay inside their
// bound, random data is stored, and every byte comes back, also into a buffer with no
// slack behind it.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <tuple>

#include "container/format/block.h"
#include "container/format/checked.h"
#include "container/drivers/memory.h"
#include "test_util.h"

namespace orsk::test {
namespace {

constexpr std::size_t MiB = MaxChunkLength;

// A checked container holds the plain one's blocks, each followed by its check (of the
// block, seeded with its chunk's checksum), then the end record: the block count, the
// restored length and the sum of the checks.
void ExpectCheckedLayout(Level level, const Bytes& input, const Bytes& plain, const Bytes& checked) {
    ASSERT_GE(checked.size(), CheckedHeaderLength + EndRecordLength);
    const Bytes head{CheckedMagic, CheckedVersion, std::uint8_t(level), 0};
    EXPECT_EQ(Bytes(checked.begin(), checked.begin() + 4), head);
    Bytes blocks{ContainerMagic};
    ContentTally tally;
    std::size_t at = CheckedHeaderLength, count = 0;
    for (std::size_t offset = 0; offset < input.size(); offset += MiB, ++count) {
        std::size_t total = 0;
        ASSERT_EQ(BlockTotalLength(level, &checked[at], total), Status::Ok);
        ASSERT_LE(at + total + BlockCheckLength, checked.size());
        blocks.insert(blocks.end(), checked.begin() + std::ptrdiff_t(at), checked.begin() + std::ptrdiff_t(at + total));
        const std::size_t n = std::min(MiB, input.size() - offset);
        const std::uint64_t sum = BlockCheck(&checked[at], total, ChunkChecksum(input.data() + offset, n));
        EXPECT_EQ(LoadLE64(&checked[at + total]), sum) << "block " << count;
        tally.Add(sum, n);
        at += total + BlockCheckLength;
    }
    EXPECT_TRUE((input.empty() ? Bytes{} : blocks) == plain);
    ASSERT_EQ(at + EndRecordLength, checked.size());
    EXPECT_EQ(checked[at], EndRecordKind);
    EXPECT_EQ(LoadLE64(&checked[at + 1]), count);
    EXPECT_EQ(LoadLE64(&checked[at + 9]), input.size());
    EXPECT_EQ(LoadLE64(&checked[at + 17]), tally.checksum);
}

using Param = std::tuple<int, Kind, std::size_t>;
class RoundTrip : public ::testing::TestWithParam<Param> {};

TEST_P(RoundTrip, RestoresEveryByte) {
    const auto [l, kind, n] = GetParam();
    const Level level = Level(l);
    const Bytes input = Sample(kind, n, std::uint32_t(n) + 7);
    const Bytes container = Compress(level, input);
    EXPECT_LE(container.size(), ContainerBound(n));
    if (kind == Kind::Random && n >= MiB) {
        EXPECT_EQ(container[1], StoredBlockKind);  // a whole chunk of random bytes is stored
        EXPECT_EQ(LoadLE32(&container[2]), MiB);
    } else if (kind != Kind::Random && n >= 4096) {
        EXPECT_LT(container.size(), n);
    }
    std::uint64_t claimed = 0;
    ASSERT_EQ(RestoredSize(level, container.data(), container.size(), claimed, test::Workspace()), Status::Ok);
    EXPECT_EQ(claimed, n);

    Bytes restored;
    ASSERT_EQ(Decompress(level, container, restored), Status::Ok);
    EXPECT_TRUE(restored == input);
    // Into exactly n bytes: no room behind any block for the decoders' slack.
    BlockWorkspace ws;
    auto exact = std::make_unique<std::uint8_t[]>(n);
    ByteSink sink{exact.get(), exact.get(), exact.get() + n};
    ASSERT_EQ(DecompressInto(level, container.data(), container.size(), sink, ws), Status::Ok);
    ASSERT_EQ(Written(sink), n);
    EXPECT_TRUE(std::equal(input.begin(), input.end(), exact.get()));

    const Bytes checked = Compress(level, input, ContainerKind::Checked);
    EXPECT_LE(checked.size(), ContainerBound(n, ContainerKind::Checked));
    ExpectCheckedLayout(level, input, container, checked);
    ASSERT_EQ(Decompress(LevelFromContainer, checked, restored), Status::Ok);
    EXPECT_TRUE(restored == input);

    if (n > MiB) {
        // A sink too tight for BlockBound sends every chunk through the workspace: the
        // same blocks as chunks compressed where the caller holds them.
        Bytes tight(container.size());
        ByteSink out{tight.data(), tight.data(), tight.data() + tight.size()};
        ASSERT_EQ(CompressInto(level, input.data(), n, out, ws), Status::Ok);
        EXPECT_TRUE(tight == container);
    }
}

std::string Name(const ::testing::TestParamInfo<Param>& p) {
    return "L" + std::to_string(std::get<0>(p.param)) + "_" + KindName(std::get<1>(p.param)) + "_" +
           std::to_string(std::get<2>(p.param));
}

// MiB + InputSlack: the first chunk has the compressors' slack behind it in the caller's buffer.
INSTANTIATE_TEST_SUITE_P(Sizes, RoundTrip,
                         ::testing::Combine(::testing::Range(0, LevelCount), ::testing::ValuesIn(kKinds),
                                            ::testing::Values(0, 1, 17, 5000, MiB - 1, MiB, MiB + 1, MiB + InputSlack)),
                         Name);
INSTANTIATE_TEST_SUITE_P(Slow, RoundTrip,
                         ::testing::Combine(::testing::Range(0, LevelCount), ::testing::ValuesIn(kKinds),
                                            ::testing::Values(3 * MiB + 12345)),
                         Name);

}  // namespace
}  // namespace orsk::test
