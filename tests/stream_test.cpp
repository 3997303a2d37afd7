// The stream calls of the C interface: containers byte-identical to orsk_compress at
// every level whatever the piece sizes, failures that stay, bad arguments and bounded
// holding. Restoring streams are tests/reader_test.cpp's.
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

// Feeds `in` in pieces of next() bytes and drains into buffers of as many bytes, then
// finishes; `out` receives everything written, also by the call that fails.
template <typename Stream, typename UpdateCall, typename FinishCall, typename NextPiece>
orsk_status Pump(Stream* s, UpdateCall update, FinishCall finish, const Bytes& in, NextPiece next, Bytes& out) {
    out.clear();
    Bytes buffer;
    for (std::size_t at = 0; at < in.size();) {
        const std::size_t piece = next();
        const std::size_t n = std::min(piece, in.size() - at);
        buffer.resize(piece);
        for (std::size_t fed = 0; fed < n;) {
            size_t used = 0, made = 0;
            const orsk_status st = update(s, in.data() + at + fed, n - fed, &used, buffer.data(), piece, &made);
            out.insert(out.end(), buffer.begin(), buffer.begin() + std::ptrdiff_t(made));
            if (st != ORSK_OK) return st;
            if (used == 0 && made == 0) return ORSK_BAD_ARGUMENT;  // no progress: a fault of the stream
            fed += used;
        }
        at += n;
    }
    for (int done = 0; !done;) {
        buffer.resize(next());
        size_t made = 0;
        const orsk_status st = finish(s, buffer.data(), buffer.size(), &made, &done);
        out.insert(out.end(), buffer.begin(), buffer.begin() + std::ptrdiff_t(made));
        if (st != ORSK_OK) return st;
    }
    return ORSK_OK;
}
template <typename Stream, typename UpdateCall, typename FinishCall>
orsk_status Pump(Stream* s, UpdateCall update, FinishCall finish, const Bytes& in, std::size_t piece, Bytes& out) {
    return Pump(s, update, finish, in, [piece] { return piece; }, out);
}

orsk_status StreamCompress(int level, unsigned flags, const Bytes& in, std::size_t piece, Bytes& out) {
    CompressStream s = NewCompressor(level, flags);
    return Pump(s.get(), orsk_compress_stream_update, orsk_compress_stream_finish, in, piece, out);
}
orsk_status StreamDecompress(int level, const Bytes& in, std::size_t piece, Bytes& out) {
    DecompressStream s = NewDecompressor(level);
    return Pump(s.get(), orsk_decompress_stream_update, orsk_decompress_stream_finish, in, piece, out);
}
// The same in pieces of random sizes, from one byte to 3 MiB, small ones as often as large.
orsk_status StreamDecompressRandomPieces(int level, const Bytes& in, std::uint32_t seed, Bytes& out) {
    DecompressStream s = NewDecompressor(level);
    const auto next = [&seed] {
        seed = seed * 1664525u + 1013904223u;
        const std::uint32_t limit = (seed >> 30) == 0 ? 64 : (seed >> 30) == 1 ? 70000 : 3 * MaxChunkLength;
        return std::size_t(1 + (seed >> 2) % limit);
    };
    return Pump(s.get(), orsk_decompress_stream_update, orsk_decompress_stream_finish, in, next, out);
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

orsk_status OneShotDecompress(int level, const Bytes& in, std::size_t capacity, Bytes& out) {
    out.resize(capacity);
    size_t n = 0;
    const orsk_status s = orsk_decompress(level, in.data(), in.size(), out.data(), out.size(), &n);
    out.resize(n);
    return s;
}

// A plain container whose first block (literals only) restores alike at FAST and
// BETTER, and whose second does not, restored with the level left to it, whole and in
// pieces of random sizes: exactly the original, or UnknownLevel as the one-shot call
// gives, having written only restored bytes of the original (never other bytes, never
// damage).
TEST(Streams, LevelFromContainerNeverRestoresWrongBytes) {
    for (const auto& [tail, seed] : {std::pair{100000u, 1u}, {200000u, 4u}, {200000u, 1u}, {300000u, 2u}}) {
        const Bytes original = LiteralLeadThenFarCopies(tail, seed);
        for (int level = 2; level <= ORSK_MAX_LEVEL; ++level) {
            const std::string what = "level " + std::to_string(level) + ", tail " + std::to_string(tail) + ", seed " +
                                     std::to_string(seed);
            Bytes packed, whole, streamed;
            ASSERT_EQ(OneShotCompress(level, 0, original, packed), ORSK_OK);
            const orsk_status oneShot = OneShotDecompress(ORSK_LEVEL_FROM_CONTAINER, packed, original.size() + 64, whole);
            EXPECT_TRUE(oneShot == ORSK_OK ? whole == original : oneShot == ORSK_UNKNOWN_LEVEL && whole.empty())
                << what << ": one-shot status " << oneShot << ", " << whole.size() << " bytes";
            for (std::uint32_t pieces = 0; pieces < 4; ++pieces) {
                const orsk_status st =
                    pieces == 0 ? StreamDecompress(ORSK_LEVEL_FROM_CONTAINER, packed, packed.size(), streamed)
                                : StreamDecompressRandomPieces(ORSK_LEVEL_FROM_CONTAINER, packed, seed + pieces, streamed);
                EXPECT_EQ(st, oneShot) << what << ", pieces " << pieces;
                EXPECT_TRUE(st == ORSK_OK ? streamed == original
                                          : streamed.size() < original.size() &&
                                                std::equal(streamed.begin(), streamed.end(), original.begin()))
                    << what << ", pieces " << pieces << ": wrong bytes, status " << st;
            }
        }
    }
}

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
