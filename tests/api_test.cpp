// The C interface's contract under hostile calls: overlapping and huge buffers, unknown
// statuses, size claims of headers no writer makes, a section past its block, salvage
// arguments, and calls on a thread with a small stack.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#ifndef _WIN32
#include <pthread.h>
#endif

#include "container/drivers/memory.h"
#include "orsk/orsk.h"
#include "test_util.h"

namespace orsk::test {
namespace {

orsk_status CompressVec(int level, const Bytes& in, Bytes& out) {
    out.resize(orsk_compress_bound(in.size()));
    size_t n = 0;
    const orsk_status s = orsk_compress(level, in.data(), in.size(), out.data(), out.size(), &n);
    out.resize(n);
    return s;
}

orsk_status DecompressVec(int level, const Bytes& in, Bytes& out, std::size_t capacity) {
    out.assign(capacity, 0);
    size_t n = 0;
    const orsk_status s = orsk_decompress(level, in.data(), in.size(), out.data(), out.size(), &n);
    out.resize(n);
    return s;
}

TEST(CInterface, OverlappingBuffersAreRefused) {
    const Bytes text = TextLike(300000, 1);
    Bytes packed;
    ASSERT_EQ(CompressVec(2, text, packed), ORSK_OK);
    Bytes area(orsk_compress_bound(text.size()) + text.size());
    size_t n = 0;
    // Compressing in place, or into a buffer that starts inside the input.
    std::memcpy(area.data(), text.data(), text.size());
    EXPECT_EQ(orsk_compress(2, area.data(), text.size(), area.data(), area.size(), &n), ORSK_BAD_ARGUMENT);
    EXPECT_EQ(orsk_compress(2, area.data(), text.size(), area.data() + 100, area.size() - 100, &n), ORSK_BAD_ARGUMENT);
    // Restoring onto the container, or into a buffer that ends inside it.
    std::memcpy(area.data() + 1000, packed.data(), packed.size());
    EXPECT_EQ(orsk_decompress(2, area.data() + 1000, packed.size(), area.data(), area.size(), &n), ORSK_BAD_ARGUMENT);
    EXPECT_EQ(orsk_decompress(2, area.data() + 1000, packed.size(), area.data(), 1001, &n), ORSK_BAD_ARGUMENT);
    // Adjacent buffers are fine.
    EXPECT_EQ(orsk_decompress(2, area.data() + 1000, packed.size(), area.data(), 1000, &n), ORSK_NO_ROOM);
    Bytes side(text.size());
    ASSERT_EQ(orsk_decompress(2, area.data() + 1000, packed.size(), side.data(), side.size(), &n), ORSK_OK);
    EXPECT_EQ(side, text);
}

TEST(CInterface, HugeCapacitiesAndBounds) {
    const Bytes text = TextLike(100000, 2);
    // A capacity larger than memory: the call uses what it needs without wrapping around.
    // Such an output reaches past every higher address, so each input lies below it:
    // the text, then the container, then the restored bytes, in one allocation.
    Bytes area(text.size() + orsk_compress_bound(text.size()) + text.size() + 64);
    std::copy(text.begin(), text.end(), area.begin());
    std::uint8_t* const packed = area.data() + text.size();
    std::uint8_t* const back = packed + orsk_compress_bound(text.size());
    for (size_t capacity : {SIZE_MAX, SIZE_MAX / 2 + 1, SIZE_MAX - 4096}) {
        size_t n = 0, m = 0;
        ASSERT_EQ(orsk_compress(1, area.data(), text.size(), packed, capacity, &n), ORSK_OK);
        ASSERT_EQ(orsk_decompress(1, packed, n, back, capacity, &m), ORSK_OK);
        EXPECT_EQ(m, text.size());
        EXPECT_TRUE(std::equal(text.begin(), text.end(), back));
    }
    EXPECT_EQ(orsk_compress_bound(0), 0u);
    EXPECT_EQ(orsk_compress_bound(UINT64_MAX), UINT64_MAX);
    EXPECT_EQ(orsk_compress_bound(UINT64_MAX - 1000000), UINT64_MAX);
    EXPECT_LT(orsk_compress_bound(std::uint64_t(1) << 62), UINT64_MAX);
    EXPECT_GE(orsk_compress_bound(text.size()), text.size() + 10);
}

TEST(CInterface, EveryStatusHasAText) {
    for (int s = ORSK_OK; s <= ORSK_OUT_OF_RANGE; ++s) EXPECT_STRNE(orsk_status_text(s), "unknown status") << s;
    for (int s : {-1, ORSK_OUT_OF_RANGE + 1, 1000, INT32_MIN, INT32_MAX}) EXPECT_STREQ(orsk_status_text(s), "unknown status") << s;
}

// Size claims of block headers that no writer makes.
TEST(CInterface, SizeClaimsNeedBelievableHeaders) {
    const auto claim = [](const Bytes& c, std::uint64_t& size) {
        return orsk_decompressed_size(0, c.data(), c.size(), &size);
    };
    const auto compressed = [](std::uint32_t chunk, std::uint32_t low, std::uint32_t blockLength) {
        Bytes b(blockLength < 17 ? 17 : blockLength, 0);
        b[0] = 66;
        StoreLE32(&b[1], 1);
        StoreLE32(&b[5], chunk);
        StoreLE32(&b[9], low);
        StoreLE32(&b[13], blockLength);
        return b;
    };
    const auto stored = [](std::uint32_t a, std::uint32_t body) {
        Bytes b(9 + body, 7);
        b[0] = 15;
        StoreLE32(&b[1], a);
        StoreLE32(&b[5], a);
        return b;
    };
    std::uint64_t size = 0;
    const struct {
        const char* what;
        Bytes block;
    } bad[] = {
        {"17-byte block claiming a whole chunk", compressed(MaxChunkLength, 0, 17)},
        {"no room for six sections", compressed(1000, 0, 22)},
        {"no room for the low bytes", compressed(1000, 100, 117)},
        {"chunk of 0 bytes", compressed(0, 0, 23)},
        {"chunk over 1 MiB", compressed(MaxChunkLength + 1, 0, 23)},
        {"stored chunk of 0 bytes", stored(0, 0)},
        {"stored chunk over 1 MiB", stored(MaxChunkLength + 1, MaxChunkLength + 1)},
    };
    for (const auto& b : bad) {
        Bytes c{83};
        c.insert(c.end(), b.block.begin(), b.block.end());
        EXPECT_EQ(claim(c, size), ORSK_CORRUPT) << b.what;
    }
    // The smallest block a header may describe, for up to 1 MiB: a kind byte per section
    // behind the 17 header bytes, 23 in all at levels 0 to 4 (NORMAL orders its header
    // fields apart), 24 at BEST. The largest claim is thus about 45,590 times the container.
    for (const int level : {0, 1, 2, 4, 5}) {
        const std::uint32_t smallest = level == 5 ? 24 : 23;
        Bytes c{83};
        for (int i = 0; i < 3; ++i) {
            const Bytes b = compressed(MaxChunkLength, 0, smallest);
            c.insert(c.end(), b.begin(), b.end());
        }
        ASSERT_EQ(orsk_decompressed_size(level, c.data(), c.size(), &size), ORSK_OK) << level;
        EXPECT_EQ(size, 3 * MaxChunkLength);
        const Bytes shorter = Concat({Bytes{83}, compressed(MaxChunkLength, 0, smallest - 1)});
        EXPECT_EQ(orsk_decompressed_size(level, shorter.data(), shorter.size(), &size), ORSK_CORRUPT) << level;
    }
}

// A section that runs past its own block is damage, not a cut.
TEST(CInterface, SectionPastItsBlockIsDamage) {
    const Bytes text = TextLike(5000, 3);
    Bytes packed, out;
    ASSERT_EQ(CompressVec(1, text, packed), ORSK_OK);
    ASSERT_EQ(packed[1], 66);
    std::size_t at = 1 + 17 + LoadLE32(&packed[1 + 9]);
    for (int section = 0; section < 5; ++section) {
        at += packed[at] == 1 ? 5 + LoadLE32(&packed[at + 1]) : packed[at] == 2 ? 9 + LoadLE32(&packed[at + 5]) : 1;
    }
    ASSERT_EQ(packed[at], 1);  // the literals, raw
    StoreLE32(&packed[at + 1], LoadLE32(&packed[at + 1]) + 1);
    EXPECT_EQ(DecompressVec(1, packed, out, text.size()), ORSK_CORRUPT);
}

// orsk_salvage checks its buffers as the other calls do and lists at most range_capacity
// ranges while it counts them all.
TEST(CInterface, SalvageListsRangesAndChecksItsArguments) {
    const Bytes text = TextLike(3 * MaxChunkLength, 12);
    Bytes packed, out(text.size());
    ASSERT_EQ(CompressVec(1, text, packed), ORSK_OK);
    orsk_damaged_range ranges[2] = {};
    size_t n = 0, count = 0;
    const auto salvage = [&](int level, const Bytes& c, std::size_t capacity, orsk_damaged_range* list, size_t listed) {
        return orsk_salvage(level, c.data(), c.size(), out.data(), capacity, &n, list, listed, &count);
    };
    std::vector<std::size_t> at;  // level 1 writes the block length last in the header
    for (std::size_t p = 1; p < packed.size(); p += LoadLE32(&packed[p + 13])) at.push_back(p);
    ASSERT_EQ(at.size(), 3u);
    Bytes damaged = packed;
    for (std::size_t b : {0, 2}) damaged[at[b] + 17 + LoadLE32(&damaged[at[b] + 9])] = 0xEE;  // no section kind
    ASSERT_EQ(salvage(1, damaged, out.size(), ranges, 1), ORSK_DAMAGED);
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(n, text.size());
    EXPECT_EQ(ranges[0].length, MaxChunkLength);
    EXPECT_EQ(ranges[1].length, 0u) << "past the capacity";
    EXPECT_EQ(salvage(1, damaged, out.size(), nullptr, 0), ORSK_DAMAGED);
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(salvage(1, packed, out.size(), ranges, 2), ORSK_OK);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(salvage(1, damaged, out.size() - 1, ranges, 2), ORSK_NO_ROOM);
    EXPECT_EQ(salvage(1, damaged, out.size(), nullptr, 2), ORSK_BAD_ARGUMENT);
    EXPECT_EQ(salvage(-2, damaged, out.size(), ranges, 2), ORSK_BAD_LEVEL);
    EXPECT_EQ(orsk_salvage(1, damaged.data(), damaged.size(), out.data(), out.size(), &n, ranges, 2, nullptr),
              ORSK_BAD_ARGUMENT);
    // Ranges inside the output or the container.
    EXPECT_EQ(salvage(1, damaged, out.size(), reinterpret_cast<orsk_damaged_range*>(out.data() + 64), 2),
              ORSK_BAD_ARGUMENT);
    EXPECT_EQ(salvage(1, damaged, out.size(), reinterpret_cast<orsk_damaged_range*>(damaged.data() + 64), 2),
              ORSK_BAD_ARGUMENT);
}

// Compresses and restores at every level on a thread with a 64 KiB stack.
TEST(CInterface, SmallStacksSuffice) {
#ifdef _WIN32
    GTEST_SKIP() << "POSIX threads only";
#else
    struct Job {
        bool ok = true;
    } job;
    const auto body = [](void* arg) -> void* {
        Job& j = *static_cast<Job*>(arg);
        const Bytes inputs[] = {TextLike(2 * MaxChunkLength + 5, 3), BinaryLike(300000, 4), Runs(200000, 5)};
        for (int level = 0; level < LevelCount; ++level) {
            for (const Bytes& in : inputs) {
                Bytes packed, back;
                j.ok = j.ok && CompressVec(level, in, packed) == ORSK_OK;
                j.ok = j.ok && DecompressVec(level, packed, back, in.size()) == ORSK_OK && back == in;
            }
        }
        return nullptr;
    };
    pthread_attr_t attr;
    ASSERT_EQ(pthread_attr_init(&attr), 0);
    ASSERT_EQ(pthread_attr_setstacksize(&attr, 64 * 1024), 0);
    pthread_t thread;
    ASSERT_EQ(pthread_create(&thread, &attr, body, &job), 0);
    ASSERT_EQ(pthread_join(thread, nullptr), 0);
    pthread_attr_destroy(&attr);
    EXPECT_TRUE(job.ok);
#endif
}

}  // namespace
}  // namespace orsk::test
