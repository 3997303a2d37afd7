// Levels 4 (BETTER) and 5 (BEST): exact streams of small hand-checked inputs, hand-made blocks
// for the token loops, damaged blocks, and round trips through the memory drivers.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "codecs/best/best.h"
#include "codecs/better/better.h"
#include "container/blocks/sections.h"
#include "container/blocks/workspace.h"
#include "container/drivers/block.h"
#include "container/drivers/memory.h"
#include "test_util.h"

namespace orsk {
namespace {

using test::BlockView;
using test::Bytes;
using test::CompressBlock;
using test::RestoreAt;
using test::ViewBlock;
using test::Workspace;

std::string Name(Level level) { return level == Level::Better ? "BETTER" : "BEST"; }

// BEST's section order.
enum BestStream { Tokens = 0, LiteralLengths = 3, MatchLengths, OffsetHigh, BestLiterals };
// BETTER's section order (that of FAST).
enum BetterStream { LiteralCodes = 0, MatchCodes, LiteralExtras, MatchExtras, OffsetCodes, BetterLiterals };

// ---------------------------------------------------------------------------------
// Inputs whose only repeats are the ones a test plants.

// A de Bruijn sequence over 17 letters ('a'..'q'): no 4-byte group occurs twice.
Bytes NoRepeatBase(std::size_t n) {
    constexpr int k = 17, order = 4;
    int a[order + 1] = {};
    Bytes seq;
    std::function<void(int, int)> walk = [&](int t, int p) {
        if (t > order) {
            if (order % p == 0) {
                for (int j = 1; j <= p; ++j) seq.push_back(std::uint8_t('a' + a[j]));
            }
            return;
        }
        a[t] = a[t - p];
        walk(t + 1, p);
        for (int j = a[t - p] + 1; j < k; ++j) {
            a[t] = j;
            walk(t + 1, t);
        }
    };
    walk(1, 1);
    seq.insert(seq.end(), seq.begin(), seq.begin() + order - 1);  // the cycle, unrolled
    if (n > seq.size()) ADD_FAILURE() << "base too short";
    seq.resize(n);
    return seq;
}

// Copies planted into a no-repeat base, each between two separator bytes of values
// used nowhere else, so that no group across a copy's edge repeats either.
struct Planted {
    Bytes data;
    std::uint8_t nextSeparator = 0x80;

    explicit Planted(std::size_t n) : data(NoRepeatBase(n)) {}
    void Separator(std::size_t at) { data.at(at) = nextSeparator++; }
    void Copy(std::size_t to, std::size_t from, std::size_t length, bool separatorBefore = true) {
        std::copy_n(data.begin() + std::ptrdiff_t(from), length, data.begin() + std::ptrdiff_t(to));
        if (separatorBefore) Separator(to - 1);
        Separator(to + length);
    }
};

// ---------------------------------------------------------------------------------
// BEST: the exact streams of small inputs.

TEST(BestBlocks, FourteenEqualBytesAsExactBytes) {
    const Bytes chunk(14, 'x');
    // Two literals, then 12 at distance 1 (new: high 0, low 1); sections tokens [6],
    // the two reserved empties, literal lengths [2], match lengths [12], high [0], literals.
    const Bytes expected = {66, 1, 0, 0, 0, 14, 0, 0, 0, 1, 0, 0, 0, 51, 0, 0, 0,  // header
                            1,                                                      // low byte
                            1, 1, 0, 0, 0, 6, 0, 0, 1, 1, 0, 0, 0, 2, 1, 1, 0, 0, 0, 12,
                            1, 1, 0, 0, 0, 0, 1, 2, 0, 0, 0, 'x', 'x'};
    const Bytes block = CompressBlock(Level::Best, chunk);
    EXPECT_EQ(block, expected);
    Bytes restored;
    ASSERT_EQ(RestoreAt(Level::Best, block, restored), Status::Ok);
    EXPECT_EQ(restored, chunk);
}

TEST(BestBlocks, FirstMatchIsNewAndRecentSlotThreeIsExchanged) {
    // Matches of 20 copied from 1,000, 2,000, 3,000 and 4,000 bytes back (new
    // distances), then from 1,000 (now slot 3) after 3 literals, then from 4,000
    // (slot 3 again only if the hit exchanged rather than moved to the front).
    for (bool literalsBefore : {true, false}) {
        SCOPED_TRACE(literalsBefore ? "3 literals before the slot-3 hit" : "no literals");
        Planted p(6000);
        p.Copy(5000, 4000, 20);
        p.Copy(5100, 3100, 20);
        p.Copy(5200, 2200, 20);
        p.Copy(5300, 1300, 20);
        const std::size_t hit = literalsBefore ? 5323 : 5320;
        if (!literalsBefore) {
            ASSERT_NE(p.data[1320], p.data[4320]);  // the copy at 5,300 stays 20 long
        }
        p.Copy(hit, hit - 1000, 20, literalsBefore);
        p.Copy(hit + 25, hit + 25 - 4000, 20);
        const Bytes block = CompressBlock(Level::Best, p.data);
        const BlockView v = ViewBlock(Level::Best, block);
        const std::uint8_t hitToken = literalsBefore ? 3 : 10;
        EXPECT_EQ(v.streams[Tokens], (Bytes{6, 6, 6, 6, hitToken, 3, 14}));
        EXPECT_EQ(v.streams[OffsetHigh], (Bytes{1000 >> 8, 2000 >> 8, 3000 >> 8, 4000 >> 8}));
        EXPECT_EQ(v.low, (Bytes{1000 & 0xFF, 2000 & 0xFF, 3000 & 0xFF, 4000 & 0xFF}));
        EXPECT_EQ(v.streams[MatchLengths], Bytes(6, 20));
        const std::size_t tail = 6000 - (hit + 45);
        Bytes lengths = {255, 5000 >> 8, 5000 & 0xFF, 80, 80, 80};
        if (literalsBefore) lengths.push_back(3);
        lengths.insert(lengths.end(), {5, 255, std::uint8_t(tail >> 8), std::uint8_t(tail)});
        EXPECT_EQ(v.streams[LiteralLengths], lengths);
        Bytes restored;
        ASSERT_EQ(RestoreAt(Level::Best, block, restored), Status::Ok);
        EXPECT_EQ(restored, p.data);
    }
}

TEST(BestBlocks, MegabyteOfOneValueIsOneNewDistanceThenSlotZero) {
    const Bytes chunk(MaxChunkLength, 'z');
    const BlockView v = ViewBlock(Level::Best, CompressBlock(Level::Best, chunk));
    // 2 literals + 65,535, then 15 more of 65,535 at rep0 and the last 14 bytes.
    Bytes tokens(17, 7);
    tokens[0] = 6;
    EXPECT_EQ(v.sequenceCount, 17u);
    EXPECT_EQ(v.streams[Tokens], tokens);
    EXPECT_EQ(v.streams[LiteralLengths], Bytes{2});
    Bytes lengths;
    for (int i = 0; i < 16; ++i) lengths.insert(lengths.end(), {255, 255, 255});
    lengths.push_back(14);
    EXPECT_EQ(v.streams[MatchLengths], lengths);
    EXPECT_EQ(v.streams[OffsetHigh], Bytes{0});
    EXPECT_EQ(v.low, Bytes{1});
    EXPECT_EQ(v.streams[BestLiterals], Bytes(2, 'z'));
    // The reserved pair always sits between tokens and literal lengths.
    EXPECT_EQ(v.kinds[1], SectionEmpty);
    EXPECT_EQ(v.kinds[2], SectionEmpty);
}

TEST(BestBlocks, WindowEndsAtDistance65534) {
    // 40-byte copies from 65,534 and 65,535 bytes back; only the first is in reach.
    Planted p(70000);
    p.Copy(66000, 66000 - 65534, 40);
    p.Copy(67000, 67000 - 65535, 40);
    const Bytes block = CompressBlock(Level::Best, p.data);
    const BlockView v = ViewBlock(Level::Best, block);
    // A literal run flushed at 65,535, 465 more before the match, then the tail.
    EXPECT_EQ(v.streams[Tokens], (Bytes{14, 6, 14}));
    EXPECT_EQ(v.streams[LiteralLengths], (Bytes{255, 255, 255, 255, 465 >> 8, 465 & 0xFF, 255, 3960 >> 8, 3960 & 0xFF}));
    EXPECT_EQ(v.streams[MatchLengths], Bytes{40});
    EXPECT_EQ(v.streams[OffsetHigh], Bytes{255});
    EXPECT_EQ(v.low, Bytes{254});
    Bytes restored;
    ASSERT_EQ(RestoreAt(Level::Best, block, restored), Status::Ok);
    EXPECT_EQ(restored, p.data);
}

TEST(BestBlocks, LengthsAreStoredWhole) {
    // 300 literals, a 254-byte match, more literals, a 255-byte match.
    Planted p(3000);
    p.Copy(300, 20, 254);
    p.Copy(2000, 1000, 255);
    const BlockView v = ViewBlock(Level::Best, CompressBlock(Level::Best, p.data));
    EXPECT_EQ(v.streams[Tokens], (Bytes{6, 6, 14}));
    const Bytes& lits = v.streams[LiteralLengths];
    ASSERT_GE(lits.size(), 3u);
    EXPECT_EQ(Bytes(lits.begin(), lits.begin() + 3), (Bytes{255, 1, 44}));
    EXPECT_EQ(v.streams[MatchLengths], (Bytes{254, 255, 0, 255}));
}

TEST(BestBlocks, FinalRunOver65535IsSplit) {
    // The last match ends 65,539 bytes before the chunk's end.
    Planted p(140 + 65539);
    p.Copy(100, 10, 40);
    const Bytes block = CompressBlock(Level::Best, p.data);
    const BlockView v = ViewBlock(Level::Best, block);
    EXPECT_EQ(v.streams[Tokens], (Bytes{6, 14, 14}));
    EXPECT_EQ(v.streams[LiteralLengths], (Bytes{100, 255, 255, 255, 4}));
    Bytes restored;
    ASSERT_EQ(RestoreAt(Level::Best, block, restored), Status::Ok);
    EXPECT_EQ(restored, p.data);
}

// X (8 bytes of Z) at 1,000; Y (chainLength bytes of Z) at 1,500, found as a copy of
// X; a 20-byte copy from 2,000 back, which makes rep0 point from 3,000 to X; then
// chainLength bytes of Z at 3,000: rep0 gives 8 bytes, the chain (Y) chainLength.
Bytes RecentVersusChain(std::size_t chainLength) {
    Planted p(4000);
    const Bytes z(p.data.begin() + 1000, p.data.begin() + 1000 + std::ptrdiff_t(chainLength));
    p.Separator(999);
    p.Separator(1008);
    std::copy(z.begin(), z.end(), p.data.begin() + 1500);
    p.Separator(1499);
    p.Separator(1500 + chainLength);
    p.Copy(2500, 500, 20);
    std::copy(z.begin(), z.end(), p.data.begin() + 3000);
    p.Separator(2999);
    p.Separator(3000 + chainLength);
    return p.data;
}

TEST(BestBlocks, RecentOffsetWinsOverAChainMatchOneByteLonger) {
    BlockView v = ViewBlock(Level::Best, CompressBlock(Level::Best, RecentVersusChain(9)));
    EXPECT_EQ(v.streams[Tokens], (Bytes{6, 6, 0, 14}));
    EXPECT_EQ(v.streams[MatchLengths], (Bytes{8, 20, 8}));
    EXPECT_EQ(v.low, (Bytes{500 & 0xFF, 2000 & 0xFF}));
    // Two bytes longer: the chain match stays.
    v = ViewBlock(Level::Best, CompressBlock(Level::Best, RecentVersusChain(10)));
    EXPECT_EQ(v.streams[Tokens], (Bytes{6, 6, 6, 14}));
    EXPECT_EQ(v.streams[MatchLengths], (Bytes{8, 20, 10}));
    EXPECT_EQ(v.streams[OffsetHigh], (Bytes{500 >> 8, 2000 >> 8, 1500 >> 8}));
    EXPECT_EQ(v.low, (Bytes{500 & 0xFF, 2000 & 0xFF, 1500 & 0xFF}));
}

// At 3,000 the chain finds 8 bytes (X at 1,500). At 3,001 rep0 (1,001) gives 10 bytes
// (R at 2,000) and the chain chainLength (Y at 1,000): the lazy look takes the recent
// offset unless the chain is two bytes longer.
Bytes LazyRecentVersusChain(std::size_t chainLength) {
    Planted p(4000);
    const Bytes u(p.data.begin() + 1000, p.data.begin() + 1000 + std::ptrdiff_t(chainLength));
    p.Separator(999);  // Y is the base itself
    p.Separator(1000 + chainLength);
    const std::uint8_t w0 = p.data[1500];
    std::copy_n(u.begin(), 7, p.data.begin() + 1501);  // X: w0, then 7 bytes of U
    p.Separator(1499);
    p.Separator(1508);
    std::copy_n(u.begin(), 10, p.data.begin() + 2000);  // R
    p.Separator(1999);
    p.Separator(2010);
    p.Copy(2600, 2600 - 1001, 20);  // rep0 = 1,001 = 3,001 - R
    p.data[3000] = w0;
    std::copy(u.begin(), u.end(), p.data.begin() + 3001);
    p.Separator(2999);
    p.Separator(3001 + chainLength);
    return p.data;
}

TEST(Level45Blocks, LazyLookPrefersARecentOffsetAtTheNextPosition) {
    BlockView v = ViewBlock(Level::Best, CompressBlock(Level::Best, LazyRecentVersusChain(11)));
    EXPECT_EQ(v.streams[Tokens], (Bytes{6, 6, 6, 0, 14}));
    EXPECT_EQ(v.streams[MatchLengths], (Bytes{7, 10, 20, 10}));
    v = ViewBlock(Level::Best, CompressBlock(Level::Best, LazyRecentVersusChain(12)));
    EXPECT_EQ(v.streams[Tokens], (Bytes{6, 6, 6, 6, 14}));
    EXPECT_EQ(v.streams[MatchLengths], (Bytes{7, 10, 20, 12}));
    EXPECT_EQ(v.low, (Bytes{501 & 0xFF, 1000 & 0xFF, 1001 & 0xFF, 2001 & 0xFF}));

    v = ViewBlock(Level::Better, CompressBlock(Level::Better, LazyRecentVersusChain(11)));
    EXPECT_EQ(v.streams[OffsetCodes], (Bytes{6, 8, 8, 0}));
    EXPECT_EQ(v.streams[MatchCodes], (Bytes{7, 10, 15, 10, 0}));
    v = ViewBlock(Level::Better, CompressBlock(Level::Better, LazyRecentVersusChain(12)));
    EXPECT_EQ(v.streams[OffsetCodes], (Bytes{6, 8, 8, 12}));
    EXPECT_EQ(v.streams[MatchCodes], (Bytes{7, 10, 15, 12, 0}));
}

TEST(BestBlocks, StreamFormsFollowLengthAndLiteralEntropy) {
    // Text: thousands of sequences, every stream coded. Random: stored literals.
    BlockView v = ViewBlock(Level::Best, CompressBlock(Level::Best, test::TextLike(300000, 8)));
    for (int s : {0, 3, 4, 5, 6}) EXPECT_EQ(v.kinds[s], SectionCoded) << "section " << s;
    EXPECT_EQ(v.kinds[1], SectionEmpty);
    EXPECT_EQ(v.kinds[2], SectionEmpty);
    v = ViewBlock(Level::Best, CompressBlock(Level::Best, test::RandomBytes(100000, 3)));
    EXPECT_EQ(v.kinds[BestLiterals], SectionRaw);
}

// ---------------------------------------------------------------------------------
// BETTER: the exact streams of small inputs.

TEST(BetterBlocks, FourteenEqualBytesAsExactBytes) {
    const Bytes chunk(14, 'x');
    // Codes [2] and [12], no extras, offset code (1 >> 8) + 5 = 5 with low byte 1.
    const Bytes expected = {66, 1, 0, 0, 0, 14, 0, 0, 0, 1, 0, 0, 0, 45, 0, 0, 0, 1,
                            1, 1, 0, 0, 0, 2, 1, 1, 0, 0, 0, 12, 0, 0,
                            1, 1, 0, 0, 0, 5, 1, 2, 0, 0, 0, 'x', 'x'};
    EXPECT_EQ(CompressBlock(Level::Better, chunk), expected);
}

TEST(BetterBlocks, RecentOffsetPreferenceAndWindow) {
    BlockView v = ViewBlock(Level::Better, CompressBlock(Level::Better, RecentVersusChain(9)));
    // New 500 ((500 >> 8) + 5), new 2,000, then rep0 with 8 rather than 9.
    EXPECT_EQ(v.streams[OffsetCodes], (Bytes{6, 12, 0}));
    EXPECT_EQ(v.streams[MatchCodes], (Bytes{8, 15, 8, 0}));
    v = ViewBlock(Level::Better, CompressBlock(Level::Better, RecentVersusChain(10)));
    EXPECT_EQ(v.streams[OffsetCodes], (Bytes{6, 12, 10}));
    EXPECT_EQ(v.streams[MatchCodes], (Bytes{8, 15, 10, 0}));

    // 40-byte copies from 64,254 and 64,255 back: only the first is used.
    Planted p(70000);
    p.Copy(66000, 66000 - 64254, 40);
    p.Copy(67000, 67000 - 64255, 40);
    const Bytes block = CompressBlock(Level::Better, p.data);
    v = ViewBlock(Level::Better, block);
    EXPECT_EQ(v.streams[OffsetCodes], Bytes{255});
    EXPECT_EQ(v.low, Bytes{254});
    Bytes restored;
    ASSERT_EQ(RestoreAt(Level::Better, block, restored), Status::Ok);
    EXPECT_EQ(restored, p.data);
}

TEST(BetterBlocks, OffsetCodesAndLiteralsMayBeCoded) {
    BlockView v = ViewBlock(Level::Better, CompressBlock(Level::Better, test::TextLike(300000, 8)));
    EXPECT_EQ(v.kinds[OffsetCodes], SectionCoded);
    EXPECT_EQ(v.kinds[BetterLiterals], SectionCoded);
    v = ViewBlock(Level::Better, CompressBlock(Level::Better, test::RandomBytes(100000, 3)));
    EXPECT_EQ(v.kinds[BetterLiterals], SectionRaw);
}

TEST(Level45Blocks, BytesBehindTheChunkDoNotChangeTheBlock) {
    // Runs to the chunk's end make the comparisons read past it.
    const Bytes inputs[] = {Bytes(1000, 'a'), test::Repeat("abcabcabd", 5000), test::TextLike(20000, 2)};
    for (Level level : {Level::Better, Level::Best}) {
        for (const Bytes& in : inputs) {
            SCOPED_TRACE(Name(level) + " " + std::to_string(in.size()));
            const Bytes zeros = CompressBlock(level, in, 0);
            EXPECT_EQ(CompressBlock(level, in, in.back()), zeros);
            EXPECT_EQ(CompressBlock(level, in, 0xA5), zeros);
        }
    }
}

// ---------------------------------------------------------------------------------
// Hand-made streams for the token loops.

// Owns a set of streams, each in an allocation of exactly its length plus
// StreamReadSlack, and an output of exactly chunk + CopySlack bytes.
struct HandBlock {
    std::array<Bytes, 7> streams;
    Bytes low;
    std::uint32_t chunkLength = 0;
    std::int64_t sequenceCountDelta = 0;  // added to the true count, to break it

    Status Decode(Level level, Bytes& out) const {
        std::array<std::unique_ptr<std::uint8_t[]>, 8> memory;
        BlockStreams in;
        auto place = [&memory](int i, const Bytes& s) {
            memory[i] = std::make_unique<std::uint8_t[]>(s.size() + StreamReadSlack);
            std::copy(s.begin(), s.end(), memory[i].get());
            return ByteCursor{memory[i].get(), memory[i].get() + s.size()};
        };
        for (int i = 0; i < 7; ++i) in.stream[i] = place(i, streams[i]);
        in.offsetLow = place(7, low);
        // One token (BEST) or one literal-length code (BETTER) per sequence.
        in.sequenceCount = std::uint32_t(std::int64_t(streams[0].size()) + sequenceCountDelta);
        auto target = std::make_unique<std::uint8_t[]>(chunkLength + CopySlack);
        ByteSink sink{target.get(), target.get(), target.get() + chunkLength};
        const Status st = level == Level::Best ? BestDecodeBlock(in, sink) : BetterDecodeBlock(in, sink);
        if (st == Status::Ok) out.assign(target.get(), sink.at);
        return st;
    }
};

// What a sequence list must restore to, copied one byte at a time.
struct Step {
    std::uint32_t literals;
    std::uint32_t length;
    std::uint32_t distance;
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

Bytes Pattern(std::size_t n) {
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i) b[i] = std::uint8_t(i * 7 + (i >> 8));
    return b;
}

// BEST: 65,534 literals; new distances 1..6; new 65,534 (token 13, all slots shift);
// slot 5 (now 2); slot 5 again (65,534); 300 literals and slot 3 (4); slot 0; slot 1
// (6, still in place after the exchange with slot 3); a literal and new distance 1;
// then a 65,535-byte match at distance 1.
HandBlock BestTour(std::vector<Step>& steps, Bytes& literals) {
    HandBlock b;
    literals = Pattern(65534 + 300 + 1);
    b.streams[BestLiterals] = literals;
    b.streams[Tokens] = {14};
    b.streams[LiteralLengths] = {255, 0xFF, 0xFE};
    steps = {{65534, 0, 0}};
    for (std::uint8_t d = 1; d <= 6; ++d) {
        b.streams[Tokens].push_back(13);
        b.streams[MatchLengths].push_back(4);
        b.streams[OffsetHigh].push_back(0);
        b.low.push_back(d);
        steps.push_back({0, 4, d});
    }
    b.streams[Tokens].insert(b.streams[Tokens].end(), {13, 12, 12, 3, 7, 8, 6, 7});
    b.streams[OffsetHigh].push_back(255);
    b.low.push_back(254);
    b.streams[LiteralLengths].insert(b.streams[LiteralLengths].end(), {255, 1, 44, 1});
    b.streams[MatchLengths].insert(b.streams[MatchLengths].end(), {10, 5, 6, 7, 8, 9, 4, 255, 255, 255});
    b.streams[OffsetHigh].push_back(0);
    b.low.push_back(1);
    steps.insert(steps.end(), {{0, 10, 65534}, {0, 5, 2}, {0, 6, 65534}, {300, 7, 4}, {0, 8, 4}, {0, 9, 6}, {1, 4, 1},
                               {0, 65535, 1}});
    std::uint32_t n = 0;
    for (const Step& s : steps) n += s.literals + s.length;
    b.chunkLength = n;
    return b;
}

TEST(BestDecoder, TokensResolveRecentSlotsAndWholeLengths) {
    std::vector<Step> steps;
    Bytes literals;
    const HandBlock b = BestTour(steps, literals);
    Bytes out;
    ASSERT_EQ(b.Decode(Level::Best, out), Status::Ok);
    EXPECT_EQ(out, Replay(literals, steps));
}

TEST(BestDecoder, ReservedSectionsMustBeEmpty) {
    const Bytes chunk = test::TextLike(5000, 4);
    const Bytes block = CompressBlock(Level::Best, chunk);
    const std::uint32_t lowLength = LoadLE32(block.data() + 9);
    // Find the reserved pair behind the tokens section and give it contents.
    std::size_t at = CompressedHeaderLength + lowLength;
    at += block[at] == SectionRaw ? 5 + LoadLE32(block.data() + at + 1) : 9 + LoadLE32(block.data() + at + 5);
    ASSERT_EQ(block[at], SectionEmpty);
    ASSERT_EQ(block[at + 1], SectionEmpty);
    Bytes changed(block.begin(), block.begin() + std::ptrdiff_t(at));
    changed.insert(changed.end(), {SectionRaw, 3, 0, 0, 0, 9, 9, 9, SectionEmpty});  // raw [9 9 9], then empty
    changed.insert(changed.end(), block.begin() + std::ptrdiff_t(at + 2), block.end());
    StoreLE32(changed.data() + 13, std::uint32_t(changed.size()));
    Bytes restored;
    EXPECT_EQ(RestoreAt(Level::Best, changed, restored), Status::Corrupt);
}

TEST(BestDecoder, BrokenStreamsAreCorrupt) {
    std::vector<Step> steps;
    Bytes literals;
    const HandBlock good = BestTour(steps, literals);
    Bytes out;
    ASSERT_EQ(good.Decode(Level::Best, out), Status::Ok);
    const std::vector<std::pair<std::string, std::function<void(HandBlock&)>>> breaks = {
        {"empty slot", [](HandBlock& b) { b.streams[Tokens][1] = 8; }},
        {"distance before the start", [](HandBlock& b) { b.streams[OffsetHigh][0] = 255, b.low[0] = 255; }},
        {"distance 0", [](HandBlock& b) { b.low[0] = 0; }},
        {"literals run out", [](HandBlock& b) { b.streams[BestLiterals].pop_back(); }},
        {"match past the chunk", [](HandBlock& b) { b.chunkLength -= 1; }},
        {"chunk not filled", [](HandBlock& b) { b.chunkLength += 1; }},
        {"literal length past the stream", [](HandBlock& b) { b.streams[LiteralLengths].pop_back(); }},
        {"escape cut short", [](HandBlock& b) { b.streams[MatchLengths].pop_back(); }},
        {"high byte missing", [](HandBlock& b) { b.streams[OffsetHigh].pop_back(); }},
        {"low byte missing", [](HandBlock& b) { b.low.pop_back(); }},
        {"unused literal length", [](HandBlock& b) { b.streams[LiteralLengths].push_back(1); }},
        {"unused match length", [](HandBlock& b) { b.streams[MatchLengths].push_back(4); }},
        {"unused high byte", [](HandBlock& b) { b.streams[OffsetHigh].push_back(0); }},
        {"unused low byte", [](HandBlock& b) { b.low.push_back(0); }},
        {"unused literal", [](HandBlock& b) { b.streams[BestLiterals].push_back(0); }},
        {"one sequence more", [](HandBlock& b) { b.sequenceCountDelta = 1; }},
        {"one sequence fewer", [](HandBlock& b) { b.sequenceCountDelta = -1; }},
    };
    for (const auto& [name, mutate] : breaks) {
        SCOPED_TRACE(name);
        HandBlock b = good;
        mutate(b);
        EXPECT_EQ(b.Decode(Level::Best, out), Status::Corrupt);
    }
}

// BETTER: a 65,535-literal run; new distances 10, 20, 30, 40, 50; slot 4 (10); slot 1
// (40); slot 4 (50); new 64,254 (code 255, low 254); new 1 (code 5, low 1).
HandBlock BetterTour(std::vector<Step>& steps, Bytes& literals) {
    HandBlock b;
    literals = Pattern(65535);
    b.streams[BetterLiterals] = literals;
    b.streams[LiteralCodes] = {15};
    b.streams[LiteralExtras] = {255, 255, 240};
    steps.clear();
    const std::uint32_t distances[] = {10, 20, 30, 40, 50, 10, 40, 50, 64254, 1};
    const std::uint8_t codes[] = {5, 5, 5, 5, 5, 4, 1, 4, 255, 5};
    for (int i = 0; i < 10; ++i) {
        if (i != 0) b.streams[LiteralCodes].push_back(0);
        b.streams[MatchCodes].push_back(4);
        b.streams[OffsetCodes].push_back(codes[i]);
        if (codes[i] >= 5) b.low.push_back(std::uint8_t(distances[i]));
        steps.push_back({i == 0 ? 65535u : 0u, 4, distances[i]});
    }
    b.chunkLength = 65535 + 40;
    return b;
}

TEST(BetterDecoder, OffsetCodeFourExchangesWithSlotZero) {
    std::vector<Step> steps;
    Bytes literals;
    HandBlock b = BetterTour(steps, literals);
    Bytes out;
    ASSERT_EQ(b.Decode(Level::Better, out), Status::Ok);
    EXPECT_EQ(out, Replay(literals, steps));
    // Slot 4 still empty: code 4 right after four new distances is corrupt.
    b.streams[OffsetCodes][4] = 4;
    EXPECT_EQ(b.Decode(Level::Better, out), Status::Corrupt);
}

// ---------------------------------------------------------------------------------
// Damaged containers: every prefix and byte change fails cleanly or restores a chunk
// of the right length.

void ExpectDamageHandled(Level level, const Bytes& input, std::size_t flipStride) {
    const Bytes container = test::Compress(level, input);
    ASSERT_GT(container.size(), 1u);
    ASSERT_EQ(container[1], CompressedBlockKind);
    BlockWorkspace& ws = Workspace();
    Bytes out;
    for (std::size_t n = 2; n < container.size(); ++n) {
        // The prefix sits flush with the end of its own allocation.
        auto prefix = std::make_unique<std::uint8_t[]>(n);
        std::memcpy(prefix.get(), container.data(), n);
        ASSERT_NE(DecompressBuffer(level, prefix.get(), n, out, ws), Status::Ok) << "prefix " << n;
    }
    for (std::size_t i = 1; i < container.size(); i += (i < 64 ? 1 : flipStride)) {
        for (std::uint8_t x : {0x01, 0x80, 0xFF}) {
            Bytes changed = container;
            changed[i] ^= x;
            if (DecompressBuffer(level, changed.data(), changed.size(), out, ws) == Status::Ok) {
                EXPECT_EQ(out.size(), input.size()) << "byte " << i;
            }
        }
    }
}

TEST(Level45Damage, PrefixesAndByteChangesFailCleanly) {
    for (Level level : {Level::Better, Level::Best}) {
        SCOPED_TRACE(Name(level));
        ExpectDamageHandled(level, test::TextLike(3000, 1), 1);     // raw sections
        ExpectDamageHandled(level, test::TextLike(60000, 2), 97);   // coded sections
    }
}

// ---------------------------------------------------------------------------------
// Round trips.

TEST(Level45RoundTrip, TinyChunksThroughTheBlockCompressor) {
    // Through the driver such chunks are stored; the compressors must still handle them.
    for (Level level : {Level::Better, Level::Best}) {
        for (std::size_t n = 1; n <= 64; ++n) {
            SCOPED_TRACE(Name(level) + " n=" + std::to_string(n));
            for (const Bytes& in : {Bytes(n, 'q'), test::Repeat("abcab", n), test::TextLike(n, 3), test::RandomBytes(n, 4)}) {
                Bytes restored;
                ASSERT_EQ(RestoreAt(level, CompressBlock(level, in), restored), Status::Ok);
                EXPECT_EQ(restored, in);
            }
        }
    }
}

TEST(Level45RoundTrip, VariedDataThroughTheMemoryDrivers) {
    const std::size_t mib = MaxChunkLength;
    Bytes mixed = test::TextLike(mib + 5000, 11);
    const Bytes parts[] = {test::BinaryLike(mib / 2, 12), test::RandomBytes(mib / 3, 13), test::Runs(mib, 14)};
    for (const Bytes& p : parts) mixed.insert(mixed.end(), p.begin(), p.end());
    const std::vector<std::pair<std::string, Bytes>> inputs = {
        {"empty", {}},
        {"text", test::TextLike(300000, 1)},
        {"binary", test::BinaryLike(300000, 2)},
        {"zeros", Bytes(mib, 0)},
        {"runs", test::Runs(2 * mib + 77, 3)},
        {"random", test::RandomBytes(100000, 4)},
        {"1 MiB - 1", test::TextLike(mib - 1, 5)},
        {"1 MiB", test::BinaryLike(mib, 6)},
        {"1 MiB + 1", test::TextLike(mib + 1, 7)},
        {"mixed", mixed},
    };
    for (Level level : {Level::Better, Level::Best}) {
        for (const auto& [name, in] : inputs) {
            SCOPED_TRACE(Name(level) + " " + name);
            const Bytes container = test::Compress(level, in);
            Bytes restored;
            ASSERT_EQ(test::Decompress(level, container, restored), Status::Ok);
            EXPECT_TRUE(restored == in);
        }
        for (std::size_t n = 1; n <= 64; ++n) {
            const Bytes in = test::Repeat("xyxyz", n);
            Bytes restored;
            ASSERT_EQ(test::Decompress(level, test::Compress(level, in), restored), Status::Ok);
            EXPECT_EQ(restored, in);
        }
    }
}

TEST(AllLevels, RoundTripOneCorpus) {
    Bytes corpus = test::TextLike(200000, 21);
    for (const Bytes& p : {test::BinaryLike(200000, 22), test::Runs(300000, 23), test::RandomBytes(50000, 24),
                           test::TextLike(MaxChunkLength, 25)}) {
        corpus.insert(corpus.end(), p.begin(), p.end());
    }
    for (int l = 0; l < LevelCount; ++l) {
        SCOPED_TRACE(LevelName(Level(l)));
        Bytes restored;
        ASSERT_EQ(test::Decompress(Level(l), test::Compress(Level(l), corpus), restored), Status::Ok);
        EXPECT_TRUE(restored == corpus);
    }
}

TEST(AllLevels, StoredOnlyContainerRestoresIdentically) {
    const Bytes chunks[] = {test::RandomBytes(5, 1), test::TextLike(MaxChunkLength, 2), Bytes(1, 'q'),
                            test::RandomBytes(70000, 3)};
    Bytes container = {ContainerMagic};
    Bytes expected;
    for (const Bytes& c : chunks) {
        const std::size_t at = container.size();
        container.resize(at + StoredHeaderLength);
        container[at] = StoredBlockKind;
        StoreLE32(container.data() + at + 1, std::uint32_t(c.size()));
        StoreLE32(container.data() + at + 5, std::uint32_t(c.size()));
        container.insert(container.end(), c.begin(), c.end());
        expected.insert(expected.end(), c.begin(), c.end());
    }
    for (int l = 0; l < LevelCount; ++l) {
        SCOPED_TRACE(LevelName(Level(l)));
        Bytes restored;
        ASSERT_EQ(test::Decompress(Level(l), container, restored), Status::Ok);
        EXPECT_TRUE(restored == expected);
    }
}

}  // namespace
}  // namespace orsk
