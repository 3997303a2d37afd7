// The stream calls of the C interface: containers byte-identical to orsk_compress (and
// it to the library's) at every level whatever the piece sizes, failures that stay, bad
// arguments and bounded holding. Restoring streams are tests/reader_test.cpp's.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <tuple>

#include "orsk/orsk.h"
#include "test_util.h"

namespace orsk::test {
namespace {

using CompressStream = std::unique_ptr<orsk_compress_stream, decltype(&orsk_compress_stream_destroy)>;
using DecompressStream = std::unique_ptr<orsk_decompress_stream, decltype(&orsk_decompress_stream_destroy)>;

CompressStream NewCompressor(int level, unsigned flags = 0) {
    orsk_compress_stream* s = nullptr;
    EXPECT_EQ(orsk_compress_stream_create(level, flags, &s), ORSK_OK);
    return {s, orsk_compress_stream_destroy};
}
DecompressStream NewDecompressor(int level) {
    orsk_decompress_stream* s = nullptr;
    EXPECT_EQ(orsk_decompress_stream_create(level, 0, &s), ORSK_OK);
    return {s, orsk_decompress_stream_destroy};
}

// Compresses `in` in pieces of `piece` bytes, draining into buffers of as many bytes.
orsk_status StreamCompress(int level, unsigned flags, const Bytes& in, std::size_t piece, Bytes& out) {
    CompressStream s = NewCompressor(level, flags);
    Bytes buffer(piece);
    const auto keep = [&](std::size_t made) {
        out.insert(out.end(), buffer.begin(), buffer.begin() + std::ptrdiff_t(made));
    };
    for (std::size_t at = 0; at < in.size();) {
        size_t used = 0, made = 0;
        const orsk_status st = orsk_compress_stream_update(s.get(), in.data() + at, std::min(piece, in.size() - at),
                                                           &used, buffer.data(), piece, &made);
        keep(made);
        if (st != ORSK_OK) return st;
        if (used == 0 && made == 0) return ORSK_BAD_ARGUMENT;  // no progress: a fault of the stream
        at += used;
    }
    for (int done = 0; !done;) {
        size_t made = 0;
        const orsk_status st = orsk_compress_stream_finish(s.get(), buffer.data(), piece, &made, &done);
        keep(made);
        if (st != ORSK_OK) return st;
    }
    return ORSK_OK;
}

orsk_status OneShotCompress(int level, unsigned flags, const Bytes& in, Bytes& out) {
    out.resize(orsk_compress_bound_ex(in.size(), flags));
    size_t n = 0;
    const orsk_status s = orsk_compress_ex(level, flags, in.data(), in.size(), out.data(), out.size(), &n);
    out.resize(n);
    return s;
}

// Inputs: several chunks and a tail, one chunk exactly, a chunk and one byte of noise
// (stored blocks), a short binary record, nothing.
struct Input {
    const char* name;
    Bytes data;
};
const std::vector<Input>& Inputs() {
    static const std::vector<Input> inputs = {
        {"text 2.5 MiB", TextLike(5 * MaxChunkLength / 2 + 333, 41)},
        {"runs 1 MiB", Runs(MaxChunkLength, 42)},
        {"random 1 MiB + 1", RandomBytes(MaxChunkLength + 1, 43)},
        {"binary 3000", BinaryLike(3000, 44)},
        {"empty", {}},
    };
    return inputs;
}

// The one-shot container of each input at each level, plain and checked, made once.
const Bytes& Container(int level, unsigned flags, std::size_t input) {
    static std::map<std::tuple<int, unsigned, std::size_t>, Bytes> made;
    auto [it, fresh] = made.try_emplace({level, flags, input});
    if (fresh) {
        EXPECT_EQ(OneShotCompress(level, flags, Inputs()[input].data, it->second), ORSK_OK);
        const ContainerKind kind = flags != 0 ? ContainerKind::Checked : ContainerKind::Plain;
        EXPECT_TRUE(it->second == Compress(Level(level), Inputs()[input].data, kind)) << "the C call's own container";
    }
    return it->second;
}

constexpr std::size_t Pieces[] = {1, 7, 4096, MaxChunkLength - 1, MaxChunkLength + 1};

class StreamMatrix : public ::testing::TestWithParam<std::tuple<int, std::size_t>> {};

TEST_P(StreamMatrix, SameContainer) {
    const auto [level, piece] = GetParam();
    for (unsigned flags : {0u, unsigned(ORSK_CHECKED)}) {
        for (std::size_t i = 0; i < Inputs().size(); ++i) {
            const std::string what = std::string(Inputs()[i].name) + (flags ? " checked" : " plain");
            const Bytes& original = Inputs()[i].data;
            const Bytes& oneShot = Container(level, flags, i);
            Bytes packed;
            ASSERT_EQ(StreamCompress(level, flags, original, piece, packed), ORSK_OK) << what;
            EXPECT_TRUE(packed == oneShot) << what << ": " << packed.size() << " vs " << oneShot.size();
        }
    }
}

INSTANTIATE_TEST_SUITE_P(LevelsAndPieces, StreamMatrix,
                         ::testing::Combine(::testing::Range(ORSK_MIN_LEVEL, ORSK_MAX_LEVEL + 1),
                                            ::testing::ValuesIn(Pieces)));

// A failed stream repeats its status and takes and gives nothing more.
TEST(Streams, FailuresStay) {
    DecompressStream d = NewDecompressor(1);
    const Bytes bad = {'X', 1, 2, 3};
    Bytes out(64);
    size_t used = 9, made = 9;
    int done = 9;
    EXPECT_EQ(orsk_decompress_stream_update(d.get(), bad.data(), bad.size(), &used, out.data(), out.size(), &made),
              ORSK_CORRUPT);
    const Bytes& good = Container(1, 0, 3);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(orsk_decompress_stream_update(d.get(), good.data(), good.size(), &used, out.data(), out.size(), &made),
                  ORSK_CORRUPT);
        EXPECT_EQ(used + made, 0u);
        EXPECT_EQ(orsk_decompress_stream_finish(d.get(), out.data(), out.size(), &made, &done), ORSK_CORRUPT);
        EXPECT_EQ(made + size_t(done), 0u);
    }
    // A container cut inside a block: Truncated at the end, and from then on.
    DecompressStream cut = NewDecompressor(1);
    ASSERT_EQ(orsk_decompress_stream_update(cut.get(), good.data(), 20, &used, out.data(), out.size(), &made), ORSK_OK);
    EXPECT_EQ(used, 20u);
    EXPECT_EQ(orsk_decompress_stream_finish(cut.get(), out.data(), out.size(), &made, &done), ORSK_TRUNCATED);
    EXPECT_EQ(orsk_decompress_stream_finish(cut.get(), out.data(), out.size(), &made, &done), ORSK_TRUNCATED);
}

TEST(Streams, BadArguments) {
    static int sentinel;  // a failed create must leave null behind, whatever was there
    auto* c = reinterpret_cast<orsk_compress_stream*>(&sentinel);
    auto* d = reinterpret_cast<orsk_decompress_stream*>(&sentinel);
    EXPECT_EQ(orsk_compress_stream_create(2, 2, &c), ORSK_BAD_ARGUMENT);  // unknown flags
    EXPECT_EQ(c, nullptr);
    EXPECT_EQ(orsk_decompress_stream_create(2, ORSK_CHECKED, &d), ORSK_BAD_ARGUMENT);  // the container tells
    EXPECT_EQ(d, nullptr);
    EXPECT_EQ(orsk_compress_stream_create(6, 0, &c), ORSK_BAD_LEVEL);
    EXPECT_EQ(orsk_decompress_stream_create(-2, 0, &d), ORSK_BAD_LEVEL);
    EXPECT_EQ(orsk_compress_stream_create(ORSK_LEVEL_FROM_CONTAINER, 0, &c), ORSK_BAD_LEVEL);
    EXPECT_EQ(orsk_compress_stream_create(2, 0, nullptr), ORSK_BAD_ARGUMENT);
    orsk_compress_stream_destroy(nullptr);
    orsk_decompress_stream_destroy(nullptr);

    Bytes area(1000, 'a');
    size_t used = 0, made = 0;
    int done = 0;
    EXPECT_EQ(orsk_compress_stream_update(nullptr, area.data(), 10, &used, area.data() + 10, 10, &made),
              ORSK_BAD_ARGUMENT);
    EXPECT_EQ(orsk_decompress_stream_finish(nullptr, area.data(), 10, &made, &done), ORSK_BAD_ARGUMENT);
    const struct {
        const char* what;
        std::size_t outAt;          // output buffer offset in `area`
        bool nullUsed;
        bool afterFinish;
    } cases[] = {
        {"overlapping buffers", 5, false, false},
        {"no input_used", 500, true, false},
        {"input after finish", 500, false, true},
    };
    for (const auto& k : cases) {
        CompressStream s = NewCompressor(2);
        if (k.afterFinish) {
            ASSERT_EQ(orsk_compress_stream_finish(s.get(), area.data() + 500, 500, &made, &done), ORSK_OK);
        }
        EXPECT_EQ(orsk_compress_stream_update(s.get(), area.data(), 100, k.nullUsed ? nullptr : &used,
                                              area.data() + k.outAt, 400, &made),
                  ORSK_BAD_ARGUMENT)
            << k.what;
        // A stream that was misused stays failed.
        EXPECT_EQ(orsk_compress_stream_finish(s.get(), area.data() + 500, 500, &made, &done), ORSK_BAD_ARGUMENT);
    }
    // Without room for output, a compressor holds at most two chunks of input.
    CompressStream s = NewCompressor(0);
    const Bytes text = TextLike(5 * MaxChunkLength, 5);
    std::size_t taken = 0;
    for (int i = 0; i < 4; ++i) {
        ASSERT_EQ(orsk_compress_stream_update(s.get(), text.data() + taken, text.size() - taken, &used, nullptr, 0, &made),
                  ORSK_OK);
        taken += used;
    }
    EXPECT_EQ(taken, 2 * MaxChunkLength);
    EXPECT_EQ(made, 0u);
}

}  // namespace
}  // namespace orsk::test
