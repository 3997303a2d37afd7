// The C interface's contract under hostile calls: overlapping and huge buffers, unknown
// statuses, a section past its block, salvage arguments, calls on a thread with a
// small stack, and the memory calls and contexts keep.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <latch>
#include <new>
#include <thread>

#ifndef _WIN32
#include <limits.h>
#include <malloc.h>
#include <pthread.h>
#endif

#include "container/drivers/memory.h"
#include "orsk/orsk.h"
#include "test_util.h"

// Allocations counted per thread. The array forms come down to these (a sanitizer keeps its own).
// They take their memory from malloc, which GCC's mismatch check cannot see when it
// inlines them into a new-expression (the Windows cross build).
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
thread_local std::size_t newCalls = 0;
void* operator new(std::size_t n, const std::nothrow_t&) noexcept { return ++newCalls, std::malloc(n != 0 ? n : 1); }
void* operator new(std::size_t n) {
    if (void* p = operator new(n, std::nothrow)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

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

// A context allocates in its first call only; idle threads keep no one-shot call's memory.
TEST(CInterface, ContextsAllocateOnceAndIdleThreadsHoldNothing) {
    orsk_context* ctx = orsk_context_create();
    const Bytes in = TextLike(4096, 7);
    Bytes packed(orsk_compress_bound(in.size())), back(in.size());
    size_t n = 0, before = 0;
    for (int call = 0; call < 1000; ++call) {
        const std::size_t size = in.size() >> (call % 3 * 4);
        ASSERT_EQ(orsk_compress_ctx(ctx, call % 6, 0, in.data(), size, packed.data(), packed.size(), &n), ORSK_OK);
        ASSERT_EQ(orsk_decompress_ctx(ctx, call % 6, packed.data(), n, back.data(), size, &n), ORSK_OK);
        before = call == 0 ? newCalls : before;
    }
    EXPECT_EQ(newCalls, before);
    orsk_context_free(ctx);
    EXPECT_EQ(orsk_compress_ctx(nullptr, 0, 0, in.data(), 1, packed.data(), packed.size(), &n), ORSK_BAD_ARGUMENT);
#if defined(__GLIBC__) && (__GLIBC__ > 2 || __GLIBC_MINOR__ >= 33) && !defined(__SANITIZE_ADDRESS__)
    const auto heapInUse = [] { return mallinfo2().uordblks + mallinfo2().hblkhd; };
    const std::size_t held = heapInUse();
    std::latch called(16), release(1);
    std::atomic<int> failures = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 16; ++t) {
        threads.emplace_back([&, t] {
            Bytes out(orsk_compress_bound(in.size())), again(in.size());
            for (size_t call = 0, k = 0; call < 200; ++call) {
                failures += orsk_compress(t % 6, in.data(), in.size(), out.data(), out.size(), &k) != 0 ||
                            orsk_decompress(t % 6, out.data(), k, again.data(), again.size(), &k) != 0;
            }
            called.count_down();
            release.wait();
        });
    }
    called.wait();
    EXPECT_LT(heapInUse() - held, std::size_t(8) << 20);
    release.count_down();
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(failures, 0);
#endif
}

TEST(CInterface, EveryStatusHasAText) {
    for (int s = ORSK_OK; s <= ORSK_OUT_OF_RANGE; ++s) EXPECT_STRNE(orsk_status_text(s), "unknown status") << s;
    for (int s : {-1, ORSK_OUT_OF_RANGE + 1, 1000, INT32_MIN, INT32_MAX}) EXPECT_STREQ(orsk_status_text(s), "unknown status") << s;
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

// Every call at every level on a thread with the 32 KiB of stack the header promises,
// plus what the thread library keeps there (PTHREAD_STACK_MIN).
TEST(CInterface, SmallStacksSuffice) {
#ifdef _WIN32
    GTEST_SKIP() << "POSIX threads only";
#else
    bool ok = true;
    const auto body = [](void* arg) -> void* {
        bool& j = *static_cast<bool*>(arg);
        const Bytes inputs[] = {TextLike(MaxChunkLength + 5, 3), BinaryLike(300000, 4), Runs(200000, 5)};
        orsk_context* ctx = orsk_context_create();
        for (int level = 0; level < LevelCount; ++level) {
            for (const Bytes& in : inputs) {
                Bytes packed, back(in.size());
                size_t n = 0, count = 0;
                orsk_info info;
                j = j && CompressVec(level, in, packed) == ORSK_OK &&
                       orsk_inspect(packed.data(), packed.size(), &info) == ORSK_OK &&
                       orsk_salvage(level, packed.data(), packed.size(), back.data(), in.size(), &n, nullptr, 0,
                                    &count) == ORSK_OK && back == in &&
                       orsk_compress_ctx(ctx, level, 0, in.data(), n, packed.data(), packed.size(), &n) == ORSK_OK &&
                       orsk_decompress_ctx(ctx, -1, packed.data(), n, back.data(), in.size(), &n) == ORSK_OK &&
                       back == in;
            }
        }
        orsk_context_free(ctx);
        return nullptr;
    };
    pthread_attr_t attr;
    ASSERT_EQ(pthread_attr_init(&attr), 0);
    ASSERT_EQ(pthread_attr_setstacksize(&attr, 32768 + std::size_t(PTHREAD_STACK_MIN)), 0);
    pthread_t thread;
    ASSERT_EQ(pthread_create(&thread, &attr, body, &ok), 0);
    ASSERT_EQ(pthread_join(thread, nullptr), 0);
    pthread_attr_destroy(&attr);
    EXPECT_TRUE(ok);
#endif
}

}  // namespace
}  // namespace orsk::test
