// Levels 2 (FAST) and 3 (NORMAL): exact streams of small hand-checked inputs, the call
// filter, round trips through the memory drivers, damaged blocks.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "codecs/fast/fast.h"
#include "codecs/fast/sequence_coder.h"
#include "codecs/normal/normal.h"
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
using S = SequenceStream;

constexpr Level kLevels[] = {Level::Fast, Level::Normal};

std::string Name(Level level) { return level == Level::Fast ? "FAST" : "NORMAL"; }

struct Token {
    std::uint32_t literals;
    std::uint32_t length;
    std::uint32_t distance;
    std::uint32_t code;
};

// The sequences of a valid block, replayed from its streams without any shortcut.
std::vector<Token> Tokens(const BlockView& v, std::uint32_t repCount) {
    std::vector<Token> tokens;
    std::vector<std::uint32_t> rep(repCount, 0);
    std::size_t lx = 0, mx = 0, oc = 0, lo = 0;
    auto extra = [](const Bytes& s, std::size_t& i) -> std::uint32_t {
        const std::uint32_t b = s.at(i++);
        if (b != 255) return b;
        const std::uint32_t hi = s.at(i++);
        return hi * 256 + s.at(i++);
    };
    for (std::uint32_t k = 0; k < v.sequenceCount; ++k) {
        Token t{v.streams[S::LiteralLengthCodes].at(k), v.streams[S::MatchLengthCodes].at(k), 0, 0};
        if (t.literals >= 15) t.literals = 15 + extra(v.streams[S::LiteralLengthExtras], lx);
        if (t.length >= 15) t.length = 15 + extra(v.streams[S::MatchLengthExtras], mx);
        if (t.length != 0) {
            t.code = v.streams[S::OffsetCodes].at(oc++);
            if (t.code < repCount) {
                std::swap(rep[0], rep[t.code]);
            } else {
                rep.insert(rep.begin(), ((t.code - repCount) << 8) | v.low.at(lo++));
                rep.pop_back();
            }
            t.distance = rep[0];
        }
        tokens.push_back(t);
    }
    return tokens;
}

std::uint32_t RepCount(Level level) { return level == Level::Fast ? 4 : 5; }

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

// ---------------------------------------------------------------------------------
// Worked examples, as exact bytes or stream contents.

TEST(Level23Blocks, ChunksOfOneToNineBytesAreOneLiteralSequence) {
    for (Level level : kLevels) {
        for (std::uint32_t n = 1; n <= 9; ++n) {
            SCOPED_TRACE(Name(level) + " n=" + std::to_string(n));
            const Bytes chunk = test::Repeat("aaab", n);  // repeats, but too short to search
            const std::uint32_t length = 17 + 6 + 6 + 3 + 5 + n;
            Bytes expected = {66};
            auto put = [&expected](std::uint32_t v) {
                for (int i = 0; i < 4; ++i) expected.push_back(std::uint8_t(v >> (8 * i)));
            };
            if (level == Level::Normal) {
                put(n), put(length), put(1), put(0);
            } else {
                put(1), put(n), put(0), put(length);
            }
            expected.insert(expected.end(), {1, 1, 0, 0, 0, std::uint8_t(n), 1, 1, 0, 0, 0, 0, 0, 0, 0, 1});
            put(n);
            expected.insert(expected.end(), chunk.begin(), chunk.end());
            const Bytes block = CompressBlock(level, chunk);
            EXPECT_EQ(block, expected);
            Bytes restored;
            ASSERT_EQ(RestoreAt(level, block, restored), Status::Ok);
            EXPECT_EQ(restored, chunk);
        }
    }
}

TEST(Level23Blocks, RepeatedByteChunkMatchesAtDistanceOneOutsideTheWindow) {
    // 0 and 1 are literals; 65,535-byte matches at distance 1 follow, each after one
    // literal, because no position inside a long match is inserted and the last
    // inserted one lies 65,535 bytes back.
    const Bytes chunk(200000, 'a');
    for (Level level : kLevels) {
        SCOPED_TRACE(Name(level));
        const BlockView v = ViewBlock(level, CompressBlock(level, chunk));
        EXPECT_EQ(v.sequenceCount, 4u);
        EXPECT_EQ(v.streams[S::LiteralLengthCodes], (Bytes{2, 1, 1, 1}));
        EXPECT_EQ(v.streams[S::MatchLengthCodes], (Bytes{15, 15, 15, 15}));
        EXPECT_TRUE(v.streams[S::LiteralLengthExtras].empty());
        // 65,535 - 15 = 65,520 three times; the last match 200,000 - 196,610 = 3,390.
        EXPECT_EQ(v.streams[S::MatchLengthExtras],
                  (Bytes{255, 255, 240, 255, 255, 240, 255, 255, 240, 255, 0x0D, 0x2F}));
        const std::uint8_t newDistance = level == Level::Fast ? 4 : 5;
        EXPECT_EQ(v.streams[S::OffsetCodes], (Bytes{newDistance, 0, 0, 0}));
        EXPECT_EQ(v.low, Bytes{1});
        EXPECT_EQ(v.streams[S::Literals], Bytes(5, 'a'));
    }
}

// Random bytes with a 40-byte marker repeated `distance` bytes later.
Bytes MarkerPair(std::uint32_t distance) {
    Bytes chunk = test::RandomBytes(distance + 300, 77);
    std::copy(chunk.begin() + 100, chunk.begin() + 140, chunk.begin() + 100 + distance);
    return chunk;
}

TEST(Level23Blocks, WindowEdgeDecidesTheFarthestCandidate) {
    struct Case {
        Level level;
        std::uint32_t distance;
        bool used;
        std::uint8_t code;
        std::uint8_t low;
    };
    const Case cases[] = {
        {Level::Fast, 64255, true, 254, 255},
        {Level::Fast, 64256, false, 0, 0},
        {Level::Normal, 64254, true, 255, 254},
        {Level::Normal, 64255, false, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Name(c.level) + " distance " + std::to_string(c.distance));
        const Bytes chunk = MarkerPair(c.distance);
        const Bytes block = CompressBlock(c.level, chunk);
        const BlockView v = ViewBlock(c.level, block);
        const std::vector<Token> tokens = Tokens(v, RepCount(c.level));
        std::size_t found = 0;
        std::size_t lowIndex = 0;
        for (const Token& t : tokens) {
            EXPECT_LE(t.distance, c.level == Level::Fast ? 64255u : 64254u);
            if (t.distance == c.distance && t.length >= 40) {
                ++found;
                EXPECT_EQ(t.code, c.code);
                EXPECT_EQ(v.low.at(lowIndex), c.low);
            }
            if (t.length != 0 && t.code >= RepCount(c.level)) ++lowIndex;
        }
        EXPECT_EQ(found, c.used ? 1u : 0u);
        Bytes restored;
        ASSERT_EQ(RestoreAt(c.level, block, restored), Status::Ok);
        EXPECT_EQ(restored, chunk);
    }
}

TEST(Level23Blocks, RecentOffsetHitExchangesWithSlotZero) {
    // Matches copied from 300, 700, 300 and 900 bytes back, from disjoint random sources.
    Bytes chunk = test::RandomBytes(3000, 5);
    const std::uint32_t starts[] = {2000, 2100, 2200, 2400};
    const std::uint32_t distances[] = {300, 700, 300, 900};
    for (int i = 0; i < 4; ++i) {
        std::copy_n(chunk.begin() + (starts[i] - distances[i]), 24, chunk.begin() + starts[i]);
    }
    for (Level level : kLevels) {
        SCOPED_TRACE(Name(level));
        const std::uint8_t base = std::uint8_t(RepCount(level));
        const BlockView v = ViewBlock(level, CompressBlock(level, chunk));
        // New 300 ((300 >> 8) + base), new 700, slot 1, new 900.
        EXPECT_EQ(v.streams[S::OffsetCodes], (Bytes{std::uint8_t(base + 1), std::uint8_t(base + 2), 1,
                                                    std::uint8_t(base + 3)}));
        EXPECT_EQ(v.low, (Bytes{300 & 0xFF, 700 & 0xFF, 900 & 0xFF}));
    }

    // The slots themselves: exchange on a hit, shift on a new distance.
    BlockWorkspace& ws = Workspace();
    std::memset(ws.chunk(), 'x', 4096);
    SequenceStreams<5> s;
    ByteSink block{ws.block(), ws.block(), ws.block() + OutputBlockBufferSize};
    ASSERT_EQ(s.Begin(ws.scratch(), block), Status::Ok);
    s.EmitSequence(ws.chunk(), 1000, 4, 300);
    s.EmitSequence(ws.chunk(), 0, 4, 700);
    s.EmitSequence(ws.chunk(), 0, 4, 300);
    EXPECT_EQ(s.rep[0], 300u);
    EXPECT_EQ(s.rep[1], 700u);
    s.EmitSequence(ws.chunk(), 0, 4, 900);
    EXPECT_EQ(s.rep[0], 900u);
    EXPECT_EQ(s.rep[1], 300u);
    EXPECT_EQ(s.rep[2], 700u);
    s.EmitSequence(ws.chunk(), 0, 4, 700);  // slot 2: exchanged, slot 1 stays
    EXPECT_EQ(s.rep[0], 700u);
    EXPECT_EQ(s.rep[1], 300u);
    EXPECT_EQ(s.rep[2], 900u);
    EXPECT_EQ(Bytes(s.begin[S::OffsetCodes], s.at[S::OffsetCodes]), (Bytes{6, 7, 1, 8, 2}));
}

TEST(Level23Blocks, LongLiteralRunsAreCutAt65535) {
    // No 4-byte group repeats in this input, so every byte is a literal.
    const Bytes nomatch = test::ReadFileBytes(test::DataPath("conformance/nomatch-70000.bin"));
    ASSERT_EQ(nomatch.size(), 70000u);
    for (Level level : kLevels) {
        SCOPED_TRACE(Name(level));
        // A run that reaches 65,535 inside the loop is flushed at once.
        BlockView v = ViewBlock(level, CompressBlock(level, nomatch));
        EXPECT_EQ(v.streams[S::LiteralLengthCodes], (Bytes{15, 15}));
        EXPECT_EQ(v.streams[S::MatchLengthCodes], (Bytes{0, 0}));
        EXPECT_EQ(v.streams[S::LiteralLengthExtras], (Bytes{255, 255, 240, 255, 0x11, 0x62}));  // 4,450
        EXPECT_TRUE(v.streams[S::OffsetCodes].empty());
        // The last run may pass 65,535 by the 9 bytes the loop never visits.
        const Bytes longest(nomatch.begin(), nomatch.begin() + 65543);
        const Bytes block = CompressBlock(level, longest);
        v = ViewBlock(level, block);
        EXPECT_EQ(v.streams[S::LiteralLengthCodes], Bytes{15});
        EXPECT_EQ(v.streams[S::LiteralLengthExtras], (Bytes{255, 0xFF, 0xF8}));  // 65,528
        Bytes restored;
        ASSERT_EQ(RestoreAt(level, block, restored), Status::Ok);
        EXPECT_EQ(restored, longest);
        v = ViewBlock(level, CompressBlock(level, Bytes(nomatch.begin(), nomatch.begin() + 65544)));
        EXPECT_EQ(v.streams[S::LiteralLengthCodes], (Bytes{15, 9}));
    }
}

// A block of `count` sequences of one literal and a 4-byte match at distance 1.
Bytes SequenceBlock(Level level, std::uint32_t count, const SectionRules& rules) {
    BlockWorkspace& ws = Workspace();
    std::memset(ws.chunk(), 'x', 64);
    ByteSink block{ws.block(), ws.block(), ws.block() + OutputBlockBufferSize};
    SequenceStreams<4> s4;
    SequenceStreams<5> s5;
    Status st;
    if (level == Level::Fast) {
        EXPECT_EQ(s4.Begin(ws.scratch(), block), Status::Ok);
        for (std::uint32_t i = 0; i < count; ++i) s4.EmitSequence(ws.chunk(), 1, 4, 1);
        st = FinishSequenceBlock(block, s4, count * 5, rules, HeaderOrder::A);
    } else {
        EXPECT_EQ(s5.Begin(ws.scratch(), block), Status::Ok);
        for (std::uint32_t i = 0; i < count; ++i) s5.EmitSequence(ws.chunk(), 1, 4, 1);
        st = FinishSequenceBlock(block, s5, count * 5, rules, HeaderOrder::B);
    }
    EXPECT_EQ(st, Status::Ok);
    return Bytes(ws.block(), block.at);
}

TEST(Level23Blocks, SequenceCountDecidesBothCodeSections) {
    const SectionRules fastRules{false, false, 0.0};
    const SectionRules normalRules{true, true, 6.75};
    for (Level level : kLevels) {
        const SectionRules& rules = level == Level::Fast ? fastRules : normalRules;
        for (std::uint32_t count : {2047u, 2048u}) {
            SCOPED_TRACE(Name(level) + " " + std::to_string(count) + " sequences");
            const Bytes block = SequenceBlock(level, count, rules);
            const BlockView v = ViewBlock(level, block);
            const std::uint8_t pair = count == 2048 ? SectionCoded : SectionRaw;
            EXPECT_EQ(v.kinds[S::LiteralLengthCodes], pair);
            EXPECT_EQ(v.kinds[S::MatchLengthCodes], pair);
            // As many offset codes: coded only at NORMAL.
            const bool codedOffsets = count == 2048 && level == Level::Normal;
            EXPECT_EQ(v.kinds[S::OffsetCodes], codedOffsets ? SectionCoded : SectionRaw);
            Bytes restored;
            ASSERT_EQ(RestoreAt(level, block, restored), Status::Ok);
            EXPECT_EQ(restored, Bytes(count * 5, 'x'));
        }
    }
}

TEST(Level23Blocks, LiteralsAreCodedByEntropyAtNormalOnly) {
    const Bytes text = test::TextLike(300000, 3);
    const Bytes random = test::RandomBytes(4096, 9);
    EXPECT_EQ(ViewBlock(Level::Fast, CompressBlock(Level::Fast, text)).kinds[S::Literals], SectionRaw);
    EXPECT_EQ(ViewBlock(Level::Normal, CompressBlock(Level::Normal, text)).kinds[S::Literals], SectionCoded);
    // Random literals stay raw at any length; fewer than 2,048 are never coded.
    EXPECT_EQ(ViewBlock(Level::Normal, CompressBlock(Level::Normal, random)).kinds[S::Literals], SectionRaw);
    const BlockView v = ViewBlock(Level::Normal, CompressBlock(Level::Normal, test::TextLike(2047, 4)));
    EXPECT_EQ(v.kinds[S::Literals], SectionRaw);
}

// ---------------------------------------------------------------------------------
// The call filter.

void PutOperand(Bytes& b, std::size_t at, std::int32_t v) { StoreLE32(b.data() + at, std::uint32_t(v)); }
std::int32_t Operand(const Bytes& b, std::size_t at) { return std::int32_t(LoadLE32(b.data() + at)); }

Bytes SignatureAt(std::size_t n, std::size_t at) {
    Bytes b(n, 0x11);
    b[at] = 'P', b[at + 1] = 'E', b[at + 2] = 0, b[at + 3] = 0;
    return b;
}

TEST(CallAddressFilter, RewritesOperandsRelativeToTheChunk) {
    // n = 100, signature at 0, opcode at 10, operand at p = 11.
    struct Case {
        std::int32_t before;
        std::int32_t after;
    };
    const Case cases[] = {{5, 16}, {95, -5}, {-11, 0}, {-20, -20}, {100, 100}, {88, 99}, {89, -11}, {0, 11}};
    for (std::uint8_t opcode : {0xE8, 0xE9}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::to_string(c.before));
            Bytes b = SignatureAt(100, 0);
            b[10] = opcode;
            PutOperand(b, 11, c.before);
            const Bytes original = b;
            ApplyCallAddressFilter(b.data(), b.size());
            EXPECT_EQ(Operand(b, 11), c.after);
            EXPECT_TRUE(std::equal(b.begin(), b.begin() + 11, original.begin()));
            EXPECT_TRUE(std::equal(b.begin() + 15, b.end(), original.begin() + 15));
            RevertCallAddressFilter(b.data(), b.size());
            EXPECT_EQ(b, original);
        }
    }
}

TEST(CallAddressFilter, ScansOnlyFromTheFirstSignatureToEightBeforeTheEnd) {
    const std::size_t n = 100;
    {  // No signature: nothing changes.
        Bytes b(n, 0xE8);
        const Bytes original = b;
        ApplyCallAddressFilter(b.data(), n);
        EXPECT_EQ(b, original);
    }
    {  // Opcodes before the signature are left alone; an E8 inside an operand is skipped.
        Bytes b = SignatureAt(n, 40);
        b[10] = 0xE8;
        PutOperand(b, 11, 5);
        b[50] = 0xE8;
        PutOperand(b, 51, 0x00E800E8);  // operand bytes hold E8 but are never opcodes
        b[56] = 0xE8;
        PutOperand(b, 57, 1);
        Bytes expected = b;
        PutOperand(expected, 51, 0x00E800E8);  // outside [-p, n): unchanged
        PutOperand(expected, 57, 58);
        ApplyCallAddressFilter(b.data(), n);
        EXPECT_EQ(b, expected);
    }
    {  // Index n - 9 is the last one examined, as opcode and as signature start.
        Bytes b = SignatureAt(n, 0);
        b[n - 9] = 0xE8;
        PutOperand(b, n - 8, 3);
        b[n - 8 + 4] = 0xE9;  // index n - 4: never examined
        ApplyCallAddressFilter(b.data(), n);
        EXPECT_EQ(Operand(b, n - 8), std::int32_t(n - 8 + 3));
        Bytes late = SignatureAt(n, n - 8);  // too late to anchor
        late[n - 3] = 0xE8;
        const Bytes lateCopy = late;
        ApplyCallAddressFilter(late.data(), n);
        EXPECT_EQ(late, lateCopy);
        Bytes last = SignatureAt(n, n - 9);  // anchors, but nothing after it is examined
        const Bytes lastCopy = last;
        ApplyCallAddressFilter(last.data(), n);
        EXPECT_EQ(last, lastCopy);
    }
    {  // Only the first signature anchors; later ones are ordinary bytes.
        Bytes b = SignatureAt(n, 20);
        b[30] = 'P', b[31] = 'E', b[32] = 0, b[33] = 0;
        b[25] = 0xE8;
        PutOperand(b, 26, 4);
        b[40] = 0xE8;
        PutOperand(b, 41, -41);
        ApplyCallAddressFilter(b.data(), n);
        EXPECT_EQ(Operand(b, 26), 30);
        EXPECT_EQ(Operand(b, 41), 0);
    }
    for (std::size_t tiny = 0; tiny <= 9; ++tiny) {  // short chunks: never a crash
        Bytes b(tiny, 0);
        if (tiny >= 4) b[0] = 'P', b[1] = 'E';
        const Bytes original = b;
        ApplyCallAddressFilter(b.data(), tiny);
        RevertCallAddressFilter(b.data(), tiny);
        EXPECT_EQ(b, original);
    }
}

TEST(CallAddressFilter, FindsTheSignatureAmongNearMisses) {
    // "PE" pairs all over, none followed by two zero bytes, and the signature at every
    // position that leaves room for an opcode behind it: the opcode before the
    // signature stays, the one after it is rewritten.
    const std::size_t n = 80;
    for (std::size_t at = 5; at + 14 <= n; ++at) {
        Bytes b(n);
        for (std::size_t k = 0; k < n; ++k) b[k] = std::uint8_t("PE\0P"[k % 4]);
        b[at - 5] = 0xE8;
        PutOperand(b, at - 4, 1);
        b[at] = 'P', b[at + 1] = 'E', b[at + 2] = 0, b[at + 3] = 0;
        b[at + 4] = 0xE8;
        PutOperand(b, at + 5, 1);
        Bytes expected = b;
        PutOperand(expected, at + 5, std::int32_t(at + 6));
        ApplyCallAddressFilter(b.data(), n);
        EXPECT_EQ(b, expected) << at;
    }
}

TEST(CallAddressFilter, InverseRestoresRandomChunks) {
    for (std::uint32_t seed = 1; seed <= 200; ++seed) {
        const std::size_t n = seed < 100 ? 9 + seed : 1000 + seed * 37;
        Bytes b = test::RandomBytes(n, seed);
        const std::size_t anchor = (seed * 7) % (n - 8);
        b[anchor] = 'P', b[anchor + 1] = 'E', b[anchor + 2] = 0, b[anchor + 3] = 0;
        // Dense opcodes; most operands near the chunk's range, some far outside it, and
        // with a stride below 5 opcodes fall inside earlier operands.
        const Bytes strides = test::RandomBytes(n, seed + 1000);
        for (std::size_t i = anchor + 4; i + 5 <= n; i += 2 + strides[i] % 6) {
            b[i] = std::uint8_t(0xE8 | (i & 1));
            if (i % 3 != 0) PutOperand(b, i + 1, std::int32_t((i * 7919 + seed) % (2 * n)) - std::int32_t(n / 2));
        }
        const Bytes original = b;
        ApplyCallAddressFilter(b.data(), n);
        if (n > 200) {
            EXPECT_NE(b, original) << seed;
        }
        RevertCallAddressFilter(b.data(), n);
        ASSERT_EQ(b, original) << seed;
    }
}

// ---------------------------------------------------------------------------------
// Round trips through the memory drivers.

void ExpectRoundTrip(Level level, const Bytes& input, const std::string& what) {
    SCOPED_TRACE(Name(level) + " " + what + " (" + std::to_string(input.size()) + " bytes)");
    BlockWorkspace& ws = Workspace();
    Bytes container, restored;
    ASSERT_EQ(CompressBuffer(level, input.data(), input.size(), container, ws), Status::Ok);
    ASSERT_EQ(DecompressBuffer(level, container.data(), container.size(), restored, ws), Status::Ok);
    ASSERT_EQ(restored.size(), input.size());
    EXPECT_TRUE(restored == input);
}

TEST(Level23RoundTrip, VariedData) {
    const Bytes mixed = Concat({test::TextLike(1200000, 1), test::BinaryLike(900000, 2), test::Runs(700000, 3),
                                test::RandomBytes(300000, 4)});
    for (Level level : kLevels) {
        ExpectRoundTrip(level, {}, "empty");
        ExpectRoundTrip(level, test::TextLike(300000, 11), "text");
        ExpectRoundTrip(level, test::BinaryLike(300000, 12), "binary");
        ExpectRoundTrip(level, Bytes(300000, 0), "zeros");
        ExpectRoundTrip(level, test::Runs(500000, 13), "runs");
        ExpectRoundTrip(level, test::RandomBytes(200000, 14), "random");
        ExpectRoundTrip(level, test::Repeat("abcd", 100000), "period 4");
        for (std::size_t n : {MaxChunkLength - 1, MaxChunkLength, MaxChunkLength + 1}) {
            ExpectRoundTrip(level, test::TextLike(n, 15), "text around 1 MiB");
        }
        ExpectRoundTrip(level, mixed, "mixed multi-MiB");
    }
}

TEST(Level23RoundTrip, SmallChunksThroughTheBlockCoder) {
    // The driver stores these; the codec itself must still restore them.
    for (Level level : kLevels) {
        for (std::size_t n = 1; n <= 64; ++n) {
            for (const Bytes& chunk : {test::TextLike(n, std::uint32_t(n)), test::Repeat("ab", n), Bytes(n, 7)}) {
                SCOPED_TRACE(Name(level) + " n=" + std::to_string(n));
                Bytes restored;
                ASSERT_EQ(RestoreAt(level, CompressBlock(level, chunk), restored), Status::Ok);
                EXPECT_EQ(restored, chunk);
            }
            ExpectRoundTrip(level, test::TextLike(n, 99), "tiny");
        }
    }
}

TEST(Level23RoundTrip, ExecutableWithAndWithoutSignature) {
    Bytes exe = test::ReadFileBytes("/proc/self/exe");
    ASSERT_GT(exe.size(), 4096u);
    if (exe.size() > 3 * MaxChunkLength) exe.resize(3 * MaxChunkLength);
    ExpectRoundTrip(Level::Normal, exe, "executable");
    ExpectRoundTrip(Level::Fast, exe, "executable");
    // With a signature near the start of every chunk, the filter rewrites real x86 calls.
    for (std::size_t at = 64; at + 4 < exe.size(); at += MaxChunkLength) {
        exe[at] = 'P', exe[at + 1] = 'E', exe[at + 2] = 0, exe[at + 3] = 0;
    }
    Bytes filtered = exe;
    ApplyCallAddressFilter(filtered.data(), std::min(filtered.size(), MaxChunkLength));
    EXPECT_NE(filtered, exe);
    ExpectRoundTrip(Level::Normal, exe, "executable with signature");
}

// ---------------------------------------------------------------------------------
// Damaged input: non-Ok, never a read or write outside the buffers.

// Hand-made streams for the token loop, each in an allocation that ends exactly
// StreamReadSlack bytes after it.
struct TokenInput {
    std::uint32_t sequenceCount = 0;
    std::array<Bytes, 6> streams;
    Bytes low;
    std::size_t chunkLength = 0;
};

constexpr std::uint8_t Canary = 0xA5;

Status DecodeTokens(Level level, const TokenInput& t, Bytes* restored = nullptr) {
    std::array<Bytes, 7> padded;
    BlockStreams in;
    in.sequenceCount = t.sequenceCount;
    for (int i = 0; i < 7; ++i) {
        padded[i] = i < 6 ? t.streams[i] : t.low;
        const std::size_t n = padded[i].size();
        padded[i].resize(n + StreamReadSlack);
        ByteCursor c{padded[i].data(), padded[i].data() + n};
        if (i < 6) {
            in.stream[i] = c;
        } else {
            in.offsetLow = c;
        }
    }
    // Output: the chunk, CopySlack bytes of scratch, then a canary the decoder must not reach.
    Bytes out(t.chunkLength + CopySlack + 16, Canary);
    ByteSink sink{out.data(), out.data(), out.data() + t.chunkLength};
    const Status st = level == Level::Fast ? FastDecodeBlock(in, sink) : NormalDecodeBlock(in, sink);
    for (std::size_t i = t.chunkLength + CopySlack; i < out.size(); ++i) {
        EXPECT_EQ(out[i], Canary) << i;
    }
    if (st == Status::Ok) {
        EXPECT_EQ(sink.at, sink.end);
        if (restored != nullptr) restored->assign(out.data(), out.data() + t.chunkLength);
    } else {
        EXPECT_EQ(sink.at, out.data());  // untouched on failure
    }
    return st;
}

// 14 literals, a 30-byte match at distance 7 (new), 3 literals, 20 bytes at rep0, a
// 300-byte match at distance 20 (new, length extra), then 16 literals (extra).
TokenInput ValidTokens(Level level) {
    const std::uint8_t base = std::uint8_t(RepCount(level));
    TokenInput t;
    t.sequenceCount = 4;
    t.streams[S::LiteralLengthCodes] = {14, 3, 0, 15};
    t.streams[S::MatchLengthCodes] = {15, 15, 15, 0};
    t.streams[S::LiteralLengthExtras] = {1};
    t.streams[S::MatchLengthExtras] = {15, 5, 255, 1, 29};
    t.streams[S::OffsetCodes] = {base, 0, base};
    t.low = {7, 20};
    t.streams[S::Literals] = test::TextLike(14 + 3 + 16, 1);
    t.chunkLength = 14 + 30 + 3 + 20 + 300 + 16;
    return t;
}

TEST(Level23Corrupt, TokenLoopChecksEveryLimit) {
    for (Level level : kLevels) {
        SCOPED_TRACE(Name(level));
        const std::uint8_t base = std::uint8_t(RepCount(level));
        Bytes restored;
        ASSERT_EQ(DecodeTokens(level, ValidTokens(level), &restored), Status::Ok);
        EXPECT_EQ(restored.size(), 383u);

        auto expectCorrupt = [level](const TokenInput& t, const char* what) {
            EXPECT_EQ(DecodeTokens(level, t), Status::Corrupt) << what;
        };
        TokenInput t = ValidTokens(level);
        t.low[0] = 15;  // distance 15 > 14 written
        expectCorrupt(t, "distance beyond the output");
        t = ValidTokens(level);
        t.streams[S::OffsetCodes][0] = 1;  // slot 1 still 0
        expectCorrupt(t, "empty recent-offset slot");
        t.streams[S::OffsetCodes][0] = std::uint8_t(base);
        t.low[0] = 0;
        expectCorrupt(t, "distance 0");
        t = ValidTokens(level);
        t.streams[S::Literals].pop_back();
        expectCorrupt(t, "literals exhausted");
        t = ValidTokens(level);
        t.chunkLength -= 1;
        expectCorrupt(t, "output beyond the chunk");
        t = ValidTokens(level);
        t.chunkLength += 1;
        expectCorrupt(t, "output short of the chunk");
        t = ValidTokens(level);
        t.streams[S::MatchLengthExtras].pop_back();
        expectCorrupt(t, "escaped extra cut short");
        t = ValidTokens(level);
        t.streams[S::LiteralLengthExtras].clear();
        expectCorrupt(t, "literal extras exhausted");
        t = ValidTokens(level);
        t.streams[S::OffsetCodes].pop_back();
        expectCorrupt(t, "offset codes exhausted");
        t = ValidTokens(level);
        t.low.pop_back();
        expectCorrupt(t, "low bytes exhausted");
        for (int s : {int(S::LiteralLengthExtras), int(S::MatchLengthExtras), int(S::OffsetCodes), int(S::Literals),
                      6}) {
            t = ValidTokens(level);
            (s == 6 ? t.low : t.streams[s]).push_back(0);
            expectCorrupt(t, "a stream not consumed");
        }
        t = ValidTokens(level);
        t.sequenceCount = 3;
        expectCorrupt(t, "fewer sequences than codes");
        t.sequenceCount = 0xFFFFFFFF;
        expectCorrupt(t, "count beyond the code streams");
        t = ValidTokens(level);
        t.streams[S::MatchLengthExtras] = {255, 255, 240, 5, 255, 1, 29};  // a 65,535-byte match
        expectCorrupt(t, "match far beyond the chunk");
    }
}

TEST(Level23Corrupt, ShortDistanceCopiesRepeatThePattern) {
    // Every distance below and around the 8- and 16-byte steps, every length to 40.
    for (Level level : kLevels) {
        for (std::uint32_t d = 1; d <= 24; ++d) {
            for (std::uint32_t len = 4; len <= 40; ++len) {
                TokenInput t;
                t.sequenceCount = 1;
                t.streams[S::LiteralLengthCodes] = {15};
                t.streams[S::LiteralLengthExtras] = {9};  // 24 literals
                t.streams[S::MatchLengthCodes] = {std::uint8_t(len < 15 ? len : 15)};
                if (len >= 15) t.streams[S::MatchLengthExtras] = {std::uint8_t(len - 15)};
                t.streams[S::Literals] = test::RandomBytes(24, d);
                t.streams[S::OffsetCodes] = {std::uint8_t(RepCount(level))};
                t.low = {std::uint8_t(d)};
                t.chunkLength = 24 + len;
                Bytes expected = t.streams[S::Literals];
                for (std::uint32_t i = 0; i < len; ++i) expected.push_back(expected[expected.size() - d]);
                Bytes restored;
                ASSERT_EQ(DecodeTokens(level, t, &restored), Status::Ok);
                ASSERT_EQ(restored, expected) << "d=" << d << " len=" << len;
            }
        }
    }
}

TEST(Level23Corrupt, DamagedRealBlocksFailCleanly) {
    for (Level level : kLevels) {
        SCOPED_TRACE(Name(level));
        // Enough text for coded code sections; NORMAL also codes literals and offsets.
        const Bytes chunk = test::TextLike(24000, 21);
        const Bytes block = CompressBlock(level, chunk);
        const BlockView v = ViewBlock(level, block);
        ASSERT_EQ(v.kinds[S::LiteralLengthCodes], SectionCoded);
        Bytes restored;
        ASSERT_EQ(RestoreAt(level, block, restored), Status::Ok);
        ASSERT_EQ(restored, chunk);

        // Header counts off by one either way.
        const std::size_t countAt = level == Level::Normal ? 9 : 1;
        const std::size_t lowAt = level == Level::Normal ? 13 : 9;
        for (std::size_t field : {countAt, lowAt}) {
            for (std::int32_t delta : {-1, 1}) {
                Bytes bad = block;
                StoreLE32(bad.data() + field, std::uint32_t(std::int32_t(LoadLE32(bad.data() + field)) + delta));
                EXPECT_NE(RestoreAt(level, bad, restored), Status::Ok) << field << " " << delta;
            }
        }
        // One byte more or less than the sections hold.
        Bytes longer = block;
        longer.push_back(0);
        StoreLE32(longer.data() + (level == Level::Normal ? 5 : 13), std::uint32_t(longer.size()));
        EXPECT_NE(RestoreAt(level, longer, restored), Status::Ok);

        // Byte flips: all in the first 600 bytes (header, low bytes, section headers and
        // code tables), every 5th after. Either a clean failure or a chunk of the right size.
        for (std::size_t i = 0; i < block.size(); i += i < 600 ? 1 : 5) {
            for (std::uint8_t mask : {0x01, 0x80, 0xFF}) {
                Bytes bad = block;
                bad[i] ^= mask;
                if (RestoreAt(level, bad, restored) == Status::Ok) {
                    ASSERT_EQ(restored.size(), chunk.size()) << i;
                }
            }
        }
    }
}

}  // namespace
}  // namespace orsk
