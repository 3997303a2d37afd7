// Hostile containers at every level, plain and checked: prefixes, changed bytes, bytes
// appended and random damage of real containers fail cleanly, or restore exactly the
// length their headers claim without writing past it (run under the asan preset).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

#include "container/drivers/memory.h"
#include "test_util.h"

namespace orsk::test {
namespace {

// Restores `c` from an allocation exactly as long as it, into a sink exactly as long as
// its headers claim with canaries behind, and through the growing vector path; both
// must agree, and an Ok restore fills the sink. A salvage restores the same when they
// succeed, and otherwise lists zeros inside its output, in order.
Status RestoreExact(Level level, const Bytes& c, BlockWorkspace& ws) {
    constexpr std::uint8_t Canary = 0xA5;
    auto in = std::make_unique<std::uint8_t[]>(c.size());
    std::memcpy(in.get(), c.data(), c.size());
    Bytes viaVector;
    const Status vectorStatus = DecompressBuffer(level, in.get(), c.size(), viaVector, ws);
    Bytes salvaged;
    std::uint64_t next = 0, listed = 0;
    bool inOrder = true;
    const DamageObserver note = [&](const DamagedRange& d) {
        inOrder = inOrder && d.offset >= next && d.length <= MaxChunkLength;
        next = d.offset + d.length;
        ++listed;
    };
    if (DecompressBuffer(level, in.get(), c.size(), salvaged, ws, nullptr, &note) == Status::Ok) {
        EXPECT_TRUE(inOrder && next <= salvaged.size());
        EXPECT_TRUE(vectorStatus != Status::Ok || (listed == 0 && salvaged == viaVector));
    } else {
        EXPECT_NE(vectorStatus, Status::Ok) << "a salvage failed where a restore succeeds";
    }
    std::uint64_t claimed = 0;
    if (Status s = RestoredSize(level, in.get(), c.size(), claimed, test::Workspace()); s != Status::Ok) {
        EXPECT_NE(vectorStatus, Status::Ok) << "restored a container whose headers do not add up";
        return s;
    }
    if (claimed > 64 * MaxChunkLength) return vectorStatus;  // too large a claim to allocate for
    Bytes out(std::size_t(claimed) + 64, Canary);
    ByteSink sink{out.data(), out.data(), out.data() + claimed};
    const Status st = DecompressInto(level, in.get(), c.size(), sink, ws);
    EXPECT_TRUE(std::all_of(out.begin() + std::ptrdiff_t(claimed), out.end(), [](std::uint8_t b) { return b == Canary; }))
        << "wrote past the restored length";
    EXPECT_EQ(st == Status::Ok, vectorStatus == Status::Ok) << int(st) << " " << int(vectorStatus);
    if (st == Status::Ok) {
        EXPECT_EQ(Written(sink), claimed);
        EXPECT_TRUE(viaVector.size() == claimed && std::equal(viaVector.begin(), viaVector.end(), out.begin()));
    }
    return st;
}

// Prefixes and changed bytes (0x01, 0x80, 0xFF) at every position up to `dense` (the
// whole of containers under 8 KiB when `dense` is 0), then every `stride`-th, of plain
// and checked containers: a plain one must refuse any change to its first block's
// header, a checked one every change.
void ExpectDamageRefused(Level level, std::size_t dense, std::size_t stride) {
    BlockWorkspace ws;
    const Bytes samples[] = {TextLike(3000, 21), BinaryLike(2500, 22), Runs(5000, 23), TextLike(40000, 24)};
    for (const Bytes& s : samples) {
        for (const bool checked : {false, true}) {
            SCOPED_TRACE(std::to_string(s.size()) + " bytes" + (checked ? ", checked" : ""));
            const Bytes c = Compress(level, s, checked ? ContainerKind::Checked : ContainerKind::Plain);
            ASSERT_EQ(RestoreExact(level, c, ws), Status::Ok);
            ASSERT_EQ(c[checked ? CheckedHeaderLength : 1], CompressedBlockKind);
            const std::size_t refused = checked ? c.size() : 1 + CompressedHeaderLength;
            const std::size_t every = dense != 0 ? dense : c.size() < 8192 ? c.size() : 1024;
            for (std::size_t n = 2; n < c.size(); n += (n < every ? 1 : stride)) {
                ASSERT_NE(RestoreExact(level, Bytes(c.begin(), c.begin() + std::ptrdiff_t(n)), ws), Status::Ok)
                    << "prefix " << n;
            }
            for (std::uint8_t extra : {0, 15, 66}) {
                Bytes longer = c;
                longer.push_back(extra);
                EXPECT_NE(RestoreExact(level, longer, ws), Status::Ok) << "one byte appended";
            }
            for (std::size_t i = 1; i < c.size(); i += (i < every ? 1 : stride)) {
                for (std::uint8_t x : {0x01, 0x80, 0xFF}) {
                    Bytes d = c;
                    d[i] ^= x;
                    const Status st = RestoreExact(level, d, ws);
                    if (i < refused) {
                        EXPECT_NE(st, Status::Ok) << "byte " << i;
                    }
                }
                if (::testing::Test::HasFailure()) return;
            }
        }
    }
}

class Hostile : public ::testing::TestWithParam<int> {};
class HostileSlow : public Hostile {};

TEST_P(Hostile, SampledDamageIsRefusedOrRestoredExactly) {
    const Level level = Level(GetParam());
    ExpectDamageRefused(level, 64, 13);
}

TEST_P(HostileSlow, EveryPrefixAndChangedByteIsRefusedOrRestoredExactly) { ExpectDamageRefused(Level(GetParam()), 0, 3); }

const auto kLevelName = [](const ::testing::TestParamInfo<int>& p) { return "L" + std::to_string(p.param); };
INSTANTIATE_TEST_SUITE_P(Levels, Hostile, ::testing::Range(0, LevelCount), kLevelName);
INSTANTIATE_TEST_SUITE_P(Levels, HostileSlow, ::testing::Range(0, LevelCount), kLevelName);

}  // namespace
}  // namespace orsk::test
