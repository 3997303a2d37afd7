// The block codecs of all six levels: compressor behaviour the reference containers do
// not reach (tiny chunks, stale tables, bytes behind the chunk, sink limits, literal-run
// limits, the coded-section threshold, the call filter's edges), hand-made streams for
// decoder paths no writer takes, and real blocks with one part off by one.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "codecs/best/best.h"
#include "codecs/common/hash_chain.h"
#include "codecs/common/unsearched_tail.h"
#include "codecs/common/match_copy.h"
#include "codecs/common/sequence_sections.h"
#include "codecs/normal/normal.h"
#include "container/blocks/sections.h"
#include "container/drivers/memory.h"
#include "entropy/stream_coder.h"
#include "test_util.h"

namespace orsk::test {
namespace {

Bytes Str(const std::string& s) { return Bytes(s.begin(), s.end()); }
std::string Name(Level level) { return LevelName(level); }

// Section indices of levels 0 to 4 and of BEST.
using S = SequenceSection;
using B = BestSection;

// ---- Compressors ---------------------------------------------------------------------

TEST(Compressors, TinyChunksRoundTripThroughEveryBlockCodec) {
    // The driver stores such chunks, but the tail of every chunk takes the same paths.
    for (int l = 0; l < LevelCount; ++l) {
        for (std::size_t n = 1; n <= 64; ++n) {
            SCOPED_TRACE(Name(Level(l)) + " n=" + std::to_string(n));
            for (const Bytes& in : {Bytes(n, 'q'), Repeat("abcab", n), TextLike(n, 3), RandomBytes(n, 4)}) {
                Bytes restored;
                ASSERT_EQ(RestoreAt(Level(l), CompressBlock(Level(l), in), restored), Status::Ok);
                ASSERT_EQ(restored, in);
            }
        }
    }
}

TEST(Compressors, StayInsideTheirSink) {
    const Bytes data = TextLike(5000, 9);
    for (int l = 0; l < LevelCount; ++l) {
        SCOPED_TRACE(Name(Level(l)));
        const Bytes full = CompressBlock(Level(l), data);
        Bytes block;
        EXPECT_EQ(CompressBlock(Level(l), data, block, full.size()), Status::Ok);
        EXPECT_EQ(block, full);
        for (std::size_t room : {full.size() - 1, full.size() / 2, std::size_t(40), std::size_t(17), std::size_t(3)}) {
            EXPECT_EQ(CompressBlock(Level(l), data, block, room), Status::NoRoom) << room;
        }
    }
}

TEST(Compressors, StaleTablesAndBytesBehindTheChunkNeverChangeABlock) {
    // Short chunks clear only the table entries they can reach: what earlier chunks of
    // any level left there must not show through, on both sides of the partial-clear
    // limits (16,384 at levels 0 and 1, 8,192 above).
    const Bytes dirt = TextLike(100000, 3);
    BlockWorkspace dirty;
    Bytes out;
    for (int l = 0; l < LevelCount; ++l) {
        const std::size_t limit = l < 2 ? 16384 : 8192;
        for (std::size_t n : {std::size_t(1), std::size_t(100), limit - 1, limit, limit + 1, 3 * limit}) {
            SCOPED_TRACE(std::to_string(n) + " bytes, " + Name(Level(l)));
            ASSERT_EQ(CompressBuffer(Level((l + n) % LevelCount), dirt.data(), dirt.size(), out, dirty), Status::Ok);
            for (const Bytes& in : {TextLike(n, std::uint32_t(n)), Runs(n, std::uint32_t(n) + 1)}) {
                ASSERT_EQ(CompressBuffer(Level(l), in.data(), in.size(), out, dirty), Status::Ok);
                EXPECT_EQ(out, Compress(Level(l), in));
            }
        }
    }
    // Matches that run to the chunk's end make the compressors read past it.
    for (const Bytes& in : {Bytes(1000, 'a'), Repeat("abcabcabd", 5000), TextLike(20000, 2)}) {
        for (int l = 0; l < LevelCount; ++l) {
            const Bytes zeros = CompressBlock(Level(l), in, 0);
            EXPECT_EQ(CompressBlock(Level(l), in, in.back()), zeros) << Name(Level(l));
            EXPECT_EQ(CompressBlock(Level(l), in, 0xA5), zeros) << Name(Level(l));
        }
    }
}

// The walk of a finder with Lanes links per entry, against a plain chain of one link per
// position, from every 13th position: every budget that ends a walk at each place inside
// an entry, a window shorter than the chains and the widest one (far links capped).
template <int Lanes>
void ExpectWalksOfAPlainChain(const Bytes& data, std::uint32_t window, std::uint32_t steps) {
    const auto n = std::uint32_t(data.size());
    Bytes chunk = data;
    chunk.resize(data.size() + InputSlack, 0);
    std::vector<std::uint32_t> head(HashTableEntries, 0xFFFFFFFF), chain(HashTableEntries, 0xFFFFFFFF);
    EncoderScratch scratch;
    scratch.hashHead = head.data();
    scratch.hashChain = chain.data();
    ChainFinder<Lanes> f = MakeChainFinder<Lanes>(scratch, chunk.data(), n, window, steps);
    std::vector<std::uint32_t> plainHead(HashTableEntries, 0), previous(n, 0);
    for (std::uint32_t p = 0; p < SearchEnd(n); ++p) {
        const std::uint32_t h = HashPosition(chunk.data() + p);
        ASSERT_EQ(f.head[h], plainHead[h]);
        if (p % 13 == 0) {
            const std::uint32_t limit = MatchLimit(n, p);
            for (const Match start : {Match{}, Match{9, 1}}) {
                Match want = start;
                const std::uint32_t lower = p > window ? p - window : 0;
                std::uint32_t examined = 0;
                for (std::uint32_t c = plainHead[h]; c > lower; c = previous[c]) {
                    std::uint32_t len = 0;
                    while (len < limit && chunk[c + len] == chunk[p + len]) ++len;
                    if (len > want.length && len >= MinMatchLength) want = {len, p - c};
                    if (len == limit || ++examined > steps) break;
                }
                const Match got = SearchChainFrom(f, p, f.head[h], start);
                ASSERT_EQ(got.length, want.length) << "at " << p;
                ASSERT_EQ(got.distance, want.distance) << "at " << p;
            }
        }
        InsertWithHead(f, p, h, f.head[h]);
        previous[p] = plainHead[h];
        plainHead[h] = p;
    }
}

TEST(Compressors, ChainWalksMatchAPlainChain) {
    // The last part repeats the first 90,000 bytes back: beyond every window.
    const Bytes data = Concat({TextLike(30000, 1), Runs(12000, 2), RandomBytes(28000, 3), BinaryLike(20000, 4),
                               TextLike(30000, 1)});
    for (std::uint32_t window : {300u, 65535u}) {
        for (std::uint32_t steps : {0u, 1u, 2u, 3u, 4u, 5u, 6u, 7u, 8u, 9u, 512u}) {
            SCOPED_TRACE("window " + std::to_string(window) + ", steps " + std::to_string(steps));
            ExpectWalksOfAPlainChain<1>(data, window, steps);
            ExpectWalksOfAPlainChain<2>(data, window, steps);
            ExpectWalksOfAPlainChain<4>(data, window, steps);
        }
    }
}

TEST(Compressors, LiteralRunsStopAt65535) {
    // Levels 0 and 1 cut a run at 65,535; FAST and NORMAL cut inside the parse, so their
    // last run may pass 65,535 by the 9 bytes the parse never visits. Escapes: 255 and a
    // big-endian u16 of the rest (less 255 at levels 0 and 1).
    struct Case {
        Level level;
        std::size_t n;
        Bytes codes, extras;
    };
    const Case cases[] = {
        {Level::Hyperfast, 70000, {15, 15}, {255, 254, 241, 255, 16, 99}},
        {Level::Superfast, 70000, {15, 15}, {255, 254, 241, 255, 16, 99}},
        {Level::Fast, 65543, {15}, {255, 0xFF, 0xF8}},
        {Level::Fast, 65544, {15, 9}, {255, 255, 240}},
        {Level::Normal, 65543, {15}, {255, 0xFF, 0xF8}},
        {Level::Normal, 65544, {15, 9}, {255, 255, 240}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Name(c.level) + " " + std::to_string(c.n));
        const BlockView v = ViewBlock(c.level, CompressBlock(c.level, NoRepeats(c.n)));
        EXPECT_EQ(v.streams[S::LiteralLengthCodes], c.codes);
        EXPECT_EQ(v.streams[S::LiteralLengthExtras], c.extras);
        EXPECT_EQ(v.streams[S::Literals], NoRepeats(c.n));
    }
    // A final run past 65,535 behind a match: BEST stores lengths whole and must split it.
    for (std::size_t n : {65535u, 65544u, 65600u}) {
        const Bytes in = Concat({Bytes(200, 'z'), NoRepeats(n)});
        for (int l = 0; l < LevelCount; ++l) {
            Bytes restored;
            ASSERT_EQ(RestoreAt(Level(l), CompressBlock(Level(l), in), restored), Status::Ok) << Name(Level(l));
            EXPECT_EQ(restored, in) << Name(Level(l)) << " " << n;
        }
    }
}

TEST(Compressors, CodeStreamsAreCodedFrom2048Sequences) {
    // One sequence per unit: five fresh letters (no 3-letter group repeats), then the
    // same 16 capitals, matched from the previous copy.
    const Bytes fresh = NoRepeats(5 * 2048, 26, 3);
    for (std::size_t units : {2047u, 2048u}) {
        const Bytes copy = Str("ABCDEFGHIJKLMNOP");
        Bytes data = Concat({Str("_"), copy});
        for (std::size_t i = 0; i < units; ++i) {
            data.insert(data.end(), fresh.begin() + std::ptrdiff_t(5 * i), fresh.begin() + std::ptrdiff_t(5 * i + 5));
            data.insert(data.end(), copy.begin(), copy.end());
        }
        for (Level level : {Level::Hyperfast, Level::Superfast, Level::Fast, Level::Normal}) {
            SCOPED_TRACE(Name(level) + " " + std::to_string(units));
            const Bytes block = CompressBlock(level, data);
            const BlockView v = ViewBlock(level, block);
            ASSERT_EQ(v.sequenceCount, units);
            // Level 0 never codes a stream.
            const std::uint8_t kind = units < MinCodedLength || level == Level::Hyperfast ? SectionRaw : SectionCoded;
            EXPECT_EQ(v.kinds[S::LiteralLengthCodes], kind);
            EXPECT_EQ(v.kinds[S::MatchLengthCodes], kind);
            Bytes restored;
            ASSERT_EQ(RestoreAt(level, block, restored), Status::Ok);
            EXPECT_EQ(restored, data);
        }
    }
}

// ---- NORMAL's call filter ----------------------------------------------------------

void PutOperand(Bytes& b, std::size_t at, std::int32_t v) { StoreLE32(b.data() + at, std::uint32_t(v)); }

// The call filter as a plain byte loop: from the first signature, every E8/E9 opcode up
// to 8 bytes before the end has its operand rewritten, and the scan skips the operand.
void ReferenceFilter(std::uint8_t* b, std::size_t n, bool apply) {
    if (n <= 8) return;
    const std::size_t last = n - 8;
    std::size_t i = 0;
    while (i < last && !(b[i] == 'P' && b[i + 1] == 'E' && b[i + 2] == 0 && b[i + 3] == 0)) ++i;
    const std::int64_t len = std::int64_t(n);
    while (i < last) {
        if ((b[i] & 0xFE) != 0xE8) {
            ++i;
            continue;
        }
        const std::int64_t p = std::int64_t(i) + 1;
        std::int32_t raw;
        std::memcpy(&raw, b + p, 4);
        std::int64_t x = raw;
        if (apply) {
            x = (x >= -p && x < len - p) ? x + p : (x > 0 && x < len) ? x - len : x;
        } else {
            x = x < 0 ? (x + p >= 0 ? x + len : x) : (x < len ? x - p : x);
        }
        const std::int32_t out = std::int32_t(x);
        std::memcpy(b + p, &out, 4);
        i = std::size_t(p) + 4;
    }
}

TEST(CallFilter, ScansLikeAByteLoopAndInvertsExactly) {
    for (std::size_t n : {0u, 8u, 9u, 12u, 13u, 16u, 17u, 23u, 24u, 25u, 40u, 80u, 1000u, 65536u}) {
        for (std::uint32_t seed = 1; seed <= 10; ++seed) {
            SCOPED_TRACE(std::to_string(n) + " bytes, seed " + std::to_string(seed));
            // Call opcodes, 'P', 'E' and zeros everywhere (near-miss signatures), operands
            // near the chunk's range and far outside it, and a signature at offsets up to
            // the last one the scan examines.
            Bytes b = RandomBytes(n, seed);
            for (std::uint8_t& x : b) x = x < 40 ? 0xE8 : x < 50 ? 0xE9 : x < 60 ? 'P' : x < 70 ? 'E' : x < 90 ? 0 : x;
            const Bytes r = RandomBytes(n, seed + 100);
            for (std::size_t i = 0; i + 5 <= n; ++i) {
                if (r[i] < 60) PutOperand(b, i + 1, std::int32_t((i * 7919 + seed) % (2 * n)) - std::int32_t(n / 2));
            }
            if (n >= 13) std::memcpy(&b[seed <= 5 ? n - 7 - seed : n / 3], "PE\0\0", 4);
            for (bool apply : {true, false}) {
                Bytes want = b, got = b;
                ReferenceFilter(want.data(), n, apply);
                (apply ? ApplyCallAddressFilter : RevertCallAddressFilter)(got.data(), n);
                EXPECT_EQ(got, want);
                (apply ? RevertCallAddressFilter : ApplyCallAddressFilter)(got.data(), n);
                EXPECT_EQ(got, b) << "not inverted";
            }
        }
    }
}

// ---- Decoders --------------------------------------------------------------------------

TEST(Decoders, CopyMatchEqualsAByteByByteForwardCopy) {
    for (std::size_t distance = 1; distance <= 40; ++distance) {
        for (std::size_t length = 1; length <= 130; ++length) {
            // Exactly the promised overrun behind the match, so ASan sees more.
            auto buffer = std::make_unique<std::uint8_t[]>(distance + length + CopyMatchOverrun);
            Bytes expected = RandomBytes(distance, std::uint32_t(distance));
            std::memcpy(buffer.get(), expected.data(), distance);
            for (std::size_t i = 0; i < length; ++i) expected.push_back(expected[expected.size() - distance]);
            CopyMatch(buffer.get() + distance, distance, length);
            ASSERT_EQ(Bytes(buffer.get(), buffer.get() + distance + length), expected)
                << "distance " << distance << " length " << length;
        }
    }
}

// Hand-made streams, framed as a block of raw sections and restored by the block driver.
struct Hand {
    std::array<Bytes, 7> streams;
    Bytes low;
    std::size_t chunk = 0;
    std::uint32_t count = 0;  // 0: one per byte of the first stream (codes or tokens)
};

Status Decode(Level level, const Hand& h, Bytes& out) {
    BlockView v;
    v.sequenceCount = h.count != 0 ? h.count : std::uint32_t(h.streams[0].size());
    v.chunkLength = std::uint32_t(h.chunk);
    v.low = h.low;
    v.streams = h.streams;
    return RestoreAt(level, BuildBlock(level, v), out);
}

// What a list of sequences restores to, copied one byte at a time.
struct Step {
    std::uint32_t literals, length, distance;
};
Bytes Replay(const Bytes& literals, const std::vector<Step>& steps) {
    Bytes out;
    std::size_t li = 0;
    for (const Step& s : steps) {
        for (std::uint32_t i = 0; i < s.literals; ++i) out.push_back(literals.at(li++));
        for (std::uint32_t i = 0; i < s.length; ++i) out.push_back(out.at(out.size() - s.distance));
    }
    return out;
}

// A valid hand-made block, then changes that each break one rule and must be refused.
using Change = std::pair<const char*, std::function<void(Hand&)>>;
void ExpectTour(Level level, const Hand& good, const Bytes& expected, const std::vector<Change>& changes) {
    SCOPED_TRACE(Name(level));
    Bytes out;
    ASSERT_EQ(Decode(level, good, out), Status::Ok);
    EXPECT_EQ(out, expected);
    for (const auto& [what, change] : changes) {
        Hand h = good;
        change(h);
        EXPECT_EQ(Decode(level, h, out), Status::Corrupt) << what;
    }
}

TEST(Decoders, Levels0And1CheckEveryLimit) {
    const Bytes lits = Str("abcd");
    // Distance equal to the bytes written, and match lengths 1 to 3 no compressor writes.
    // Escapes: 255 and a big-endian u16 of the rest less 255.
    Hand h0{{Bytes{4, 0}, {4, 2}, {}, {}, {0, 0}, lits}, {4, 1}, 10};
    ExpectTour(Level::Hyperfast, h0, Str("abcdabcddd"),
               {{"distance 0", [](Hand& x) { x.low[0] = 0; }},
                {"distance past the start", [](Hand& x) { x.low[0] = 5; }},
                {"match past the chunk", [](Hand& x) {
                     x.streams[S::MatchLengthCodes][1] = 15, x.streams[S::MatchLengthExtras] = {255, 255, 255};
                 }},
                {"literals far past their stream", [](Hand& x) {
                     x.streams[S::LiteralLengthCodes][0] = 15, x.streams[S::LiteralLengthExtras] = {255, 255, 255};
                     x.chunk = 70000;
                 }}});
    // 18 matches of 65,535 at distance 1: more than a chunk, more than the restore buffer.
    Hand big{{Bytes(18, 0), Bytes(18, 15), {}, {}, Bytes(18, 0), {'a'}}, Bytes(18, 1), 1 + 18 * 65535};
    big.streams[S::LiteralLengthCodes][0] = 1;
    Bytes& bigExtras = big.streams[S::MatchLengthExtras];
    for (int i = 0; i < 18; ++i) bigExtras.insert(bigExtras.end(), {255, 0xFE, 0xF1});
    Bytes out;
    EXPECT_EQ(Decode(Level::Hyperfast, big, out), Status::Corrupt);
    // New distances 8, 3, 5; then code 2 (rep2 = 8, rep1 stays 3), code 1 (3), code 1
    // (back to 8), code 0 (8).
    Hand h1{{Bytes{8, 0, 0, 0, 0, 0, 0}, Bytes(7, 4), {}, {}, {3, 3, 3, 2, 1, 1, 0}, Str("abcdefgh")}, {8, 3, 5}, 36};
    ExpectTour(Level::Superfast, h1,
               Replay(Str("abcdefgh"), {{8, 4, 8}, {0, 4, 3}, {0, 4, 5}, {0, 4, 8}, {0, 4, 3}, {0, 4, 8}, {0, 4, 8}}),
               {{"empty recent slot", [](Hand& x) { x.streams[S::OffsetCodes][1] = 2, x.low.pop_back(); }},
                {"rep0 before any distance",
                 [](Hand& x) { x.streams[S::OffsetCodes][0] = 0, x.low.erase(x.low.begin()); }},
                {"new distance 0", [](Hand& x) { x.low[0] = 0; }},
                {"new distance past the start", [](Hand& x) { x.streams[S::OffsetCodes][0] = 4; }}});
}

TEST(Decoders, Level0BatchesReplayEscapesAndShortDistances) {
    // 16 sequences replayed as one ordinary batch (four escaped match lengths, the first
    // behind an escaped literal run and taking a three-byte extension), 16 as a Wide one
    // (six, and an escaped literal run), then a tail whose 300 literals and 5,000-byte
    // match give both batches their room. Distances 1 to 200, across the copy widths.
    Hand h;
    std::vector<Step> steps;
    auto put = [](Bytes& codes, Bytes& extras, std::uint32_t n) {
        codes.push_back(std::uint8_t(n < 15 ? n : 15));
        if (n < 15) return;
        if (n - 15 < 255) {
            extras.push_back(std::uint8_t(n - 15));
        } else {
            extras.insert(extras.end(), {255, std::uint8_t((n - 270) >> 8), std::uint8_t(n - 270)});
        }
    };
    auto add = [&](std::uint32_t literals, std::uint32_t length, std::uint32_t distance) {
        put(h.streams[S::LiteralLengthCodes], h.streams[S::LiteralLengthExtras], literals);
        put(h.streams[S::MatchLengthCodes], h.streams[S::MatchLengthExtras], length);
        h.streams[S::OffsetCodes].push_back(std::uint8_t(distance >> 8));
        h.low.push_back(std::uint8_t(distance));
        steps.push_back({literals, length, distance});
    };
    const std::uint32_t distances[16] = {20, 9, 40, 3, 17, 100, 1, 64, 8, 16, 31, 32, 33, 5, 200, 12};
    add(20, 271, 20);
    for (std::uint32_t k = 1; k < 16; ++k) add(k % 4, k == 3 ? 25 : k == 5 ? 15 : k == 7 ? 269 : 4 + k % 11, distances[k]);
    for (std::uint32_t k = 0; k < 16; ++k) {
        add(k == 9 ? 40 : k % 3, k % 2 == 0 && k <= 10 ? 15 + k * 37 % 250 : 4 + k % 11, distances[15 - k]);
    }
    add(300, 5000, 1);
    std::uint32_t literalTotal = 0;
    for (const Step& st : steps) literalTotal += st.literals, h.chunk += st.literals + st.length;
    h.streams[S::Literals] = TextLike(literalTotal, 31);
    ExpectTour(Level::Hyperfast, h, Replay(h.streams[S::Literals], steps),
               {{"an extension byte missing",
                 [](Hand& x) { x.streams[S::MatchLengthExtras].erase(x.streams[S::MatchLengthExtras].begin() + 3); }},
                {"distance 0 inside a batch", [](Hand& x) { x.low[20] = 0, x.streams[S::OffsetCodes][20] = 0; }},
                {"distance past the start inside a batch", [](Hand& x) { x.streams[S::OffsetCodes][1] = 2; }}});
}

TEST(Decoders, SequenceLoopChecksEveryLimit) {
    // FAST (four recent offsets), NORMAL and BETTER (five): 14 literals, a 30-byte match
    // at distance 7 (new), 3 literals, 20 bytes at rep0, a 300-byte match at distance 20
    // (new, escaped length), then 16 literals (length extra).
    for (Level level : {Level::Fast, Level::Normal, Level::Better}) {
        const std::uint8_t base = level == Level::Fast ? 4 : 5;
        const Bytes lits = TextLike(14 + 3 + 16, 1);
        Hand h{{Bytes{14, 3, 0, 15}, {15, 15, 15, 0}, {1}, {15, 5, 255, 1, 29}, {base, 0, base}, lits}, {7, 20}, 383};
        ExpectTour(level, h, Replay(lits, {{14, 30, 7}, {3, 20, 7}, {0, 300, 20}, {16, 0, 0}}),
                   {{"distance beyond the output", [](Hand& x) { x.low[0] = 15; }},
                    {"empty recent slot", [](Hand& x) { x.streams[S::OffsetCodes][0] = 1; }},
                    {"distance 0", [](Hand& x) { x.low[0] = 0; }},
                    {"count beyond the code streams", [](Hand& x) { x.count = 0xFFFFFFFF; }},
                    {"match far beyond the chunk",
                     [](Hand& x) { x.streams[S::MatchLengthExtras] = {255, 255, 240, 5, 255, 1, 29}; }},
                    {"literals far past their stream", [](Hand& x) {
                         x.streams[S::LiteralLengthCodes][0] = 15;
                         x.streams[S::LiteralLengthExtras] = {255, 255, 240, 1}, x.chunk += 65535 - 14;
                     }}});
        // 100 escaped match lengths and no extension byte: refused at the first, before
        // the reads pass the stream's slack.
        Hand escapes{{Bytes(100, 0), Bytes(100, 15), {}, {}, Bytes(100, 0), {'a'}}, {1}, 1 + 100 * 15};
        escapes.streams[S::LiteralLengthCodes][0] = 1;
        escapes.streams[S::OffsetCodes][0] = base;
        Bytes out;
        EXPECT_EQ(Decode(level, escapes, out), Status::Corrupt);
    }
    // BETTER: a 65,535-literal run; new distances 10, 20, 30, 40, 50; slot 4 (10), which
    // exchanges with slot 0; slot 1 (40); slot 4 (50); new 64,254; new 1.
    Bytes lits(65535);
    for (std::size_t i = 0; i < lits.size(); ++i) lits[i] = std::uint8_t(i * 7 + (i >> 8));
    Hand h{{Bytes{15, 0, 0, 0, 0, 0, 0, 0, 0, 0}, Bytes(10, 4), {255, 255, 240}, {}, {5, 5, 5, 5, 5, 4, 1, 4, 255, 5}, lits},
           {10, 20, 30, 40, 50, 254, 1}, 65535 + 40};
    std::vector<Step> steps{{65535, 4, 10}};
    for (std::uint32_t d : {20, 30, 40, 50, 10, 40, 50, 64254, 1}) steps.push_back({0, 4, d});
    ExpectTour(Level::Better, h, Replay(lits, steps),
               {{"slot 4 still empty", [](Hand& x) { x.streams[S::OffsetCodes][4] = 4; }}});
}

TEST(Decoders, BestTokensResolveRecentSlotsAndWholeLengths) {
    // 65,534 literals; new distances 1..6; new 65,534 (token 13, all slots shift); slot 5
    // (now 2); slot 5 again (65,534); 300 literals and slot 3 (4); slot 0; slot 1 (6,
    // still in place after the exchange with slot 3); a literal and new distance 1; then
    // a 65,535-byte match at distance 1.
    Bytes lits(65534 + 300 + 1);
    for (std::size_t i = 0; i < lits.size(); ++i) lits[i] = std::uint8_t(i * 7 + (i >> 8));
    Hand h;
    h.streams[B::Tokens] = {14, 13, 13, 13, 13, 13, 13, 13, 12, 12, 3, 7, 8, 6, 7};
    h.streams[B::LiteralLengths] = {255, 0xFF, 0xFE, 255, 1, 44, 1};
    h.streams[B::MatchLengths] = {4, 4, 4, 4, 4, 4, 10, 5, 6, 7, 8, 9, 4, 255, 255, 255};
    h.streams[B::OffsetHigh] = {0, 0, 0, 0, 0, 0, 255, 0};
    h.streams[B::Literals] = lits;
    h.low = {1, 2, 3, 4, 5, 6, 254, 1};
    std::vector<Step> steps{{65534, 0, 0}};
    for (std::uint32_t d = 1; d <= 6; ++d) steps.push_back({0, 4, d});
    steps.insert(steps.end(), {{0, 10, 65534}, {0, 5, 2}, {0, 6, 65534}, {300, 7, 4}, {0, 8, 4}, {0, 9, 6}, {1, 4, 1},
                               {0, 65535, 1}});
    for (const Step& s : steps) h.chunk += s.literals + s.length;
    ExpectTour(Level::Best, h, Replay(lits, steps),
               {{"empty recent slot", [](Hand& x) { x.streams[B::Tokens][1] = 8; }},
                {"distance before the start", [](Hand& x) { x.streams[B::OffsetHigh][0] = 255, x.low[0] = 255; }},
                {"distance 0", [](Hand& x) { x.low[0] = 0; }},
                {"literals far past their stream", [](Hand& x) {
                     x.streams[B::LiteralLengths][4] = 0xFF, x.streams[B::LiteralLengths][5] = 0xFF;
                     x.chunk += 65535 - 300;
                 }}});
    // The reserved pair between tokens and literal lengths stays empty: no writer fills it.
    for (std::size_t reserved : {1, 2}) {
        Hand filled = h;
        filled.streams[reserved] = {9, 9, 9};
        Bytes out;
        EXPECT_EQ(Decode(Level::Best, filled, out), Status::Corrupt) << "reserved section " << reserved;
    }
}

TEST(Decoders, EveryStreamOrHeaderFieldOffByOneIsRefused) {
    // Text, runs and a literal tail: every stream of every level holds bytes.
    const Bytes data = Concat({TextLike(3000, 21), Runs(3000, 22), Str("tail-of-literals")});
    for (int l = 0; l < LevelCount; ++l) {
        const Level level = Level(l);
        SCOPED_TRACE(Name(level));
        const BlockView good = ViewBlock(level, CompressBlock(level, data));
        Bytes out;
        ASSERT_EQ(RestoreAt(level, BuildBlock(level, good), out), Status::Ok);
        ASSERT_EQ(out, data);
        for (int i = -1; i < SectionCount(level); ++i) {
            for (int change : {+1, -1}) {
                BlockView v = good;
                Bytes& s = i < 0 ? v.low : v.streams[std::size_t(i)];
                if (s.empty()) {
                    EXPECT_TRUE(level == Level::Best && (i == 1 || i == 2)) << "stream " << i << " empty";
                    continue;
                }
                if (change > 0) s.push_back(s.back());
                else s.pop_back();
                EXPECT_NE(RestoreAt(level, BuildBlock(level, v), out), Status::Ok) << "stream " << i << " by " << change;
            }
        }
        for (int change : {+1, -1}) {
            BlockView v = good;
            v.sequenceCount += std::uint32_t(change);
            EXPECT_NE(RestoreAt(level, BuildBlock(level, v), out), Status::Ok) << "sequence count by " << change;
            v = good;
            v.chunkLength += std::uint32_t(change);
            EXPECT_NE(RestoreAt(level, BuildBlock(level, v), out), Status::Ok) << "chunk length by " << change;
        }
    }
}

}  // namespace
}  // namespace orsk::test
