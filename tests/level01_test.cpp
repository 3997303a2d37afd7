// Levels 0 and 1: exact blocks and streams of small hand-checked inputs, round trips through
// both codecs, and damaged blocks that must be refused without touching foreign memory.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "codecs/hyperfast/copy_match.h"
#include "codecs/hyperfast/hyperfast.h"
#include "codecs/superfast/superfast.h"
#include "container/blocks/sections.h"
#include "container/blocks/workspace.h"
#include "container/drivers/memory.h"
#include "entropy/stream_coder.h"
#include "test_util.h"

namespace orsk::test {
namespace {

Bytes Str(const std::string& s) { return Bytes(s.begin(), s.end()); }

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

// A de Bruijn sequence over `alphabet` of order `order`: every group of `order`
// consecutive letters occurs at most once, so a prefix holds no repeated group.
Bytes DeBruijn(const std::string& alphabet, int order) {
    const int k = int(alphabet.size());
    std::vector<int> a(std::size_t(k * order), 0);
    Bytes out;
    std::function<void(int, int)> step = [&](int t, int p) {
        if (t > order) {
            if (order % p == 0) {
                for (int i = 1; i <= p; ++i) out.push_back(std::uint8_t(alphabet[std::size_t(a[std::size_t(i)])]));
            }
            return;
        }
        a[std::size_t(t)] = a[std::size_t(t - p)];
        step(t + 1, p);
        for (int j = a[std::size_t(t - p)] + 1; j < k; ++j) {
            a[std::size_t(t)] = j;
            step(t + 1, t);
        }
    };
    step(1, 1);
    return out;
}

// 70,000 bytes of 17 letters without a repeated 4-byte group.
Bytes NoRepeatedGroups(std::size_t n) {
    Bytes b = DeBruijn("abcdefghijklmnopq", 4);
    b.resize(n);
    return b;
}

// The fields and streams of one level-0/1 block, as written.
struct BlockParts {
    std::uint32_t sequenceCount = 0, chunkLength = 0, offsetLowLength = 0, blockLength = 0;
    Bytes offsetLow;
    Bytes stream[6];
    std::uint8_t kind[6] = {};
};

// Rebuilds a block from its parts with consistent framing.
Bytes Rebuild(const BlockParts& p) {
    Bytes block(CompressedHeaderLength);
    block[0] = CompressedBlockKind;
    StoreLE32(block.data() + 1, p.sequenceCount);
    StoreLE32(block.data() + 5, p.chunkLength);
    StoreLE32(block.data() + 9, std::uint32_t(p.offsetLow.size()));
    block.insert(block.end(), p.offsetLow.begin(), p.offsetLow.end());
    for (const Bytes& s : p.stream) {
        if (s.empty()) {
            block.push_back(SectionEmpty);
            continue;
        }
        block.push_back(SectionRaw);
        for (int i = 0; i < 4; ++i) block.push_back(std::uint8_t(s.size() >> (8 * i)));
        block.insert(block.end(), s.begin(), s.end());
    }
    StoreLE32(block.data() + 13, std::uint32_t(block.size()));
    return block;
}

class Level01 : public ::testing::Test {
protected:
    Level01() {
        for (int i = 0; i < EncoderStreamCount; ++i) scratch_.stream[i] = streams_.data() + i * StreamBufferSize;
        scratch_.hashHead = tables_.data();
        scratch_.hashChain = tables_.data() + HashTableEntries;
        for (int i = 0; i < MaxSections; ++i) decode_.stream[i] = decodeMemory_.data() + i * (MaxStreamLength + SectionSlack);
    }

    // One chunk through the level's block compressor, as the driver would offer it.
    Status CompressBlock(Level level, const Bytes& data, Bytes& block, std::size_t room = OutputBlockBufferSize) {
        Bytes chunk(data.size() + InputSlack, 0);
        std::memcpy(chunk.data(), data.data(), data.size());
        Bytes out(room);
        ByteSink sink{out.data(), out.data(), out.data() + out.size()};
        const Status s = level == Level::Hyperfast
                             ? HyperfastCompressBlock(HyperfastSettings{}, scratch_, chunk.data(), data.size(), sink)
                             : SuperfastCompressBlock(SuperfastSettings{}, scratch_, chunk.data(), data.size(), sink);
        if (s == Status::Ok) block.assign(out.data(), sink.at);
        return s;
    }

    Bytes Block(Level level, const Bytes& data) {
        Bytes block;
        EXPECT_EQ(CompressBlock(level, data, block), Status::Ok);
        return block;
    }

    // Frames, unpacks and decodes one block like a reader, with every buffer sized to
    // the promised slack and no more: the block is followed by exactly StreamReadSlack
    // readable bytes and the output by exactly CopySlack, so ASan sees any overrun.
    Status DecodeBlock(Level level, const Bytes& block, Bytes& restored) {
        if (block.size() < CompressedHeaderLength) return Status::Truncated;
        auto input = std::make_unique<std::uint8_t[]>(block.size() + StreamReadSlack);
        std::memcpy(input.get(), block.data(), block.size());
        const std::uint8_t* b = input.get();
        if (b[0] != CompressedBlockKind) return Status::Corrupt;
        const std::uint32_t chunkLength = LoadLE32(b + 5);
        const std::uint32_t lowLength = LoadLE32(b + 9);
        if (LoadLE32(b + 13) != block.size() || chunkLength > MaxChunkLength) return Status::Corrupt;
        ByteCursor payload{b + CompressedHeaderLength, b + block.size()};
        BlockStreams in;
        in.sequenceCount = LoadLE32(b + 1);
        const std::uint8_t* low;
        if (!Take(payload, lowLength, low)) return Status::Corrupt;
        in.offsetLow = {low, low + lowLength};
        if (Status s = UnpackSections(payload, 6, decode_, in); s != Status::Ok) return s;
        auto out = std::make_unique<std::uint8_t[]>(chunkLength + CopySlack);
        ByteSink sink{out.get(), out.get(), out.get() + chunkLength};
        const Status s = level == Level::Hyperfast ? HyperfastDecodeBlock(in, sink) : SuperfastDecodeBlock(in, sink);
        if (s == Status::Ok) {
            EXPECT_EQ(Written(sink), chunkLength);
            restored.assign(out.get(), out.get() + Written(sink));
        }
        return s;
    }

    // Decodes a block made from hand-made streams (level-0/1 section order).
    Status DecodeStreams(Level level, std::uint32_t sequenceCount, const Bytes& low, const Bytes (&streams)[6],
                         std::size_t chunkLength, Bytes& restored) {
        BlockParts p;
        p.sequenceCount = sequenceCount;
        p.chunkLength = std::uint32_t(chunkLength);
        p.offsetLow = low;
        for (int i = 0; i < 6; ++i) p.stream[i] = streams[i];
        return DecodeBlock(level, Rebuild(p), restored);
    }

    BlockParts Parts(const Bytes& block) {
        BlockParts p;
        EXPECT_GE(block.size(), CompressedHeaderLength);
        EXPECT_EQ(block[0], CompressedBlockKind);
        p.sequenceCount = LoadLE32(block.data() + 1);
        p.chunkLength = LoadLE32(block.data() + 5);
        p.offsetLowLength = LoadLE32(block.data() + 9);
        p.blockLength = LoadLE32(block.data() + 13);
        EXPECT_EQ(p.blockLength, block.size());
        ByteCursor payload{block.data() + CompressedHeaderLength, block.data() + block.size()};
        const std::uint8_t* low = nullptr;
        if (!Take(payload, p.offsetLowLength, low)) {
            ADD_FAILURE() << "offset low bytes past the block";
            return p;
        }
        p.offsetLow.assign(low, low + p.offsetLowLength);
        ByteCursor kinds = payload;
        for (int i = 0; i < 6; ++i) {
            p.kind[i] = *kinds.at;
            if (p.kind[i] == SectionRaw) kinds.at += 5 + LoadLE32(kinds.at + 1);
            else if (p.kind[i] == SectionCoded) kinds.at += 9 + LoadLE32(kinds.at + 5);
            else kinds.at += 1;
        }
        // Unpacking needs StreamReadSlack readable bytes behind the block.
        Bytes padded(block);
        padded.resize(block.size() + StreamReadSlack);
        ByteCursor paddedPayload{padded.data() + CompressedHeaderLength + p.offsetLowLength, padded.data() + block.size()};
        BlockStreams in;
        EXPECT_EQ(UnpackSections(paddedPayload, 6, decode_, in), Status::Ok);
        for (int i = 0; i < 6; ++i) p.stream[i].assign(in.stream[i].at, in.stream[i].end);
        return p;
    }

    Bytes streams_ = Bytes(StreamBufferSize * EncoderStreamCount);
    std::vector<std::uint32_t> tables_ = std::vector<std::uint32_t>(2 * HashTableEntries);
    EncoderScratch scratch_;
    Bytes decodeMemory_ = Bytes((MaxStreamLength + SectionSlack) * MaxSections);
    DecodeBuffers decode_{{}, &test::DecodeTables()};
};

constexpr Level kLevels[] = {Level::Hyperfast, Level::Superfast};

// Stream indices in section order.
enum { LitCodes, MatchCodes, LitExtras, MatchExtras, Offsets, Literals };


// ---- Worked examples: exact blocks and streams -------------------------------------

TEST_F(Level01, StaleTableEntriesNeverChangeABlock) {
    // Short chunks clear only the slots they can use: whatever an earlier chunk (or another
    // level) left in the table must not show through, on both sides of the partial-clear limit.
    const std::size_t sizes[] = {1, 9, 10, 100, 4096, 16383, 16384, 16385, 70000};
    for (Level level : kLevels) {
        for (std::size_t n : sizes) {
            const Bytes data = TextLike(n, std::uint32_t(n));
            std::fill(tables_.begin(), tables_.end(), 0u);
            Bytes clean, stale;
            ASSERT_EQ(CompressBlock(level, data, clean), Status::Ok) << n;
            for (std::size_t i = 0; i < HashTableEntries; ++i) {
                tables_[i] = i % 3 == 0   ? std::uint32_t(i % (n + 64))
                             : i % 3 == 1 ? 0xFFFFFFFFu
                                          : std::uint32_t(i * 2654435761u);
            }
            ASSERT_EQ(CompressBlock(level, data, stale), Status::Ok) << n;
            EXPECT_EQ(stale, clean) << "level " << int(level) << " n " << n;
            ASSERT_EQ(CompressBlock(level, TextLike(n + 777, 99), stale), Status::Ok);
            ASSERT_EQ(CompressBlock(level, data, stale), Status::Ok) << n;
            EXPECT_EQ(stale, clean) << "level " << int(level) << " n " << n << " after another chunk";
        }
    }
}

TEST_F(Level01, HundredZerosGiveTheDocumentedLevel0Block) {
    const Bytes zeros(100, 0);
    const Bytes expected = {
        66, 1, 0, 0, 0, 100, 0, 0, 0, 1, 0, 0, 0, 50, 0, 0, 0,  // header, Order A
        1,                                                      // OffsetLowBytes
        1, 1, 0, 0, 0, 2,                                       // LiteralLengthCodes
        1, 1, 0, 0, 0, 15,                                      // MatchLengthCodes
        0,                                                      // LiteralLengthExtras
        1, 1, 0, 0, 0, 83,                                      // MatchLengthExtras: 98 - 15
        1, 1, 0, 0, 0, 0,                                       // OffsetHighBytes
        1, 2, 0, 0, 0, 0, 0};                                   // Literals
    const Bytes block = Block(Level::Hyperfast, zeros);
    EXPECT_EQ(block, expected);
    Bytes restored;
    ASSERT_EQ(DecodeBlock(Level::Hyperfast, block, restored), Status::Ok);
    EXPECT_EQ(restored, zeros);

    // Shorter than the chunk, so the container keeps it: magic byte + 50.
    const Bytes container = Compress(Level::Hyperfast, zeros);
    EXPECT_EQ(container, Concat({{ContainerMagic}, expected}));
    EXPECT_EQ(container, ReadFileBytes(DataPath("conformance/zeros-100.L0.orsk")));

    // Level 1 makes the same parse; the distance becomes the new-distance code 3.
    const BlockParts p = Parts(Block(Level::Superfast, zeros));
    EXPECT_EQ(p.blockLength, 50u);
    EXPECT_EQ(p.offsetLow, Bytes{1});
    EXPECT_EQ(p.stream[Offsets], Bytes{3});
    EXPECT_EQ(p.stream[MatchExtras], Bytes{83});
}

TEST_F(Level01, AbcdTimesFiveIs53BytesAndTheChunkIsStored) {
    const Bytes abcd = Repeat("abcd", 20);
    const Bytes expected = {66, 1, 0, 0, 0, 20, 0, 0, 0, 1, 0, 0, 0, 53, 0, 0, 0,
                            4,                              // distance 4
                            1, 1, 0, 0, 0, 5,               // five literals
                            1, 1, 0, 0, 0, 15,              // match of 15
                            0,                              //
                            1, 1, 0, 0, 0, 0,               // 15 - 15
                            1, 1, 0, 0, 0, 0,               //
                            1, 5, 0, 0, 0, 'a', 'b', 'c', 'd', 'a'};
    const Bytes block = Block(Level::Hyperfast, abcd);
    EXPECT_EQ(block, expected);
    Bytes restored;
    ASSERT_EQ(DecodeBlock(Level::Hyperfast, block, restored), Status::Ok);
    EXPECT_EQ(restored, abcd);
    // 53 is not below 20: magic byte + a 29-byte stored block.
    const Bytes container = Compress(Level::Hyperfast, abcd);
    EXPECT_EQ(container.size(), 30u);
    EXPECT_EQ(container, ReadFileBytes(DataPath("conformance/abcd-20.L0.orsk")));
}

TEST_F(Level01, NineBytesOrFewerAreOneLiteralSequence) {
    for (Level level : kLevels) {
        for (std::size_t n = 1; n <= 9; ++n) {
            SCOPED_TRACE(n);
            const Bytes data = Repeat("aaaa", n);  // repeats, but too close to the end to be searched
            Bytes expected = {66, 1, 0, 0, 0, std::uint8_t(n), 0, 0, 0, 0, 0, 0, 0, std::uint8_t(37 + n), 0, 0, 0,
                              1, 1, 0, 0, 0, std::uint8_t(n),
                              1, 1, 0, 0, 0, 0,
                              0, 0, 0,
                              1, std::uint8_t(n), 0, 0, 0};
            expected.insert(expected.end(), data.begin(), data.end());
            const Bytes block = Block(level, data);
            EXPECT_EQ(block, expected);
            Bytes restored;
            ASSERT_EQ(DecodeBlock(level, block, restored), Status::Ok);
            EXPECT_EQ(restored, data);
        }
    }
}

TEST_F(Level01, LiteralRunsAreCutAt65535) {
    const Bytes data = NoRepeatedGroups(70000);
    for (Level level : kLevels) {
        const Bytes block = Block(level, data);
        const BlockParts p = Parts(block);
        EXPECT_EQ(p.sequenceCount, 2u);
        EXPECT_EQ(p.offsetLowLength, 0u);
        EXPECT_EQ(p.stream[LitCodes], (Bytes{15, 15}));
        EXPECT_EQ(p.stream[MatchCodes], (Bytes{0, 0}));
        // 65,535 - 15 = 255 + 0xFEF1; 4,465 - 15 = 255 + 0x1063.
        EXPECT_EQ(p.stream[LitExtras], (Bytes{255, 254, 241, 255, 16, 99}));
        EXPECT_TRUE(p.stream[MatchExtras].empty());
        EXPECT_TRUE(p.stream[Offsets].empty());
        EXPECT_EQ(p.stream[Literals], data);
        Bytes restored;
        ASSERT_EQ(DecodeBlock(level, block, restored), Status::Ok);
        EXPECT_EQ(restored, data);
        // Longer than the chunk: the container stores it.
        EXPECT_GT(block.size(), data.size());
        EXPECT_EQ(Compress(level, data).size(), 1 + 9 + data.size());
    }
}

TEST_F(Level01, SuperfastRepeatedByteRunsReuseDistanceOne) {
    const Bytes data(200000, 'x');
    const Bytes block = Block(Level::Superfast, data);
    const BlockParts p = Parts(block);
    // 2 literals + 65,535; then, each time the lone candidate has left the window,
    // 1 literal + 65,535 at rep0; the last match ends at the chunk's end (3,390).
    EXPECT_EQ(p.sequenceCount, 4u);
    EXPECT_EQ(p.stream[LitCodes], (Bytes{2, 1, 1, 1}));
    EXPECT_EQ(p.stream[MatchCodes], (Bytes{15, 15, 15, 15}));
    EXPECT_EQ(p.stream[MatchExtras], (Bytes{255, 254, 241, 255, 254, 241, 255, 254, 241, 255, 0x0C, 0x30}));
    EXPECT_EQ(p.stream[Offsets], (Bytes{3, 0, 0, 0}));
    EXPECT_EQ(p.offsetLow, Bytes{1});
    EXPECT_EQ(p.stream[Literals], Bytes(5, 'x'));
    Bytes restored;
    ASSERT_EQ(DecodeBlock(Level::Superfast, block, restored), Status::Ok);
    EXPECT_EQ(restored, data);
}

// One sequence per unit: fresh letters (every 3-letter group new) and then a copy of
// the same 16 capitals, matched from the previous copy.
Bytes UnitsOfLiteralsAndCopy(std::size_t units) {
    static const Bytes fresh = DeBruijn("abcdefghijklmnopqrstuvwxyz", 3);
    const Bytes copy = Str("ABCDEFGHIJKLMNOP");
    Bytes data = Concat({Str("_"), copy});
    for (std::size_t i = 0; i < units; ++i) {
        data.insert(data.end(), fresh.begin() + std::ptrdiff_t(5 * i), fresh.begin() + std::ptrdiff_t(5 * i + 5));
        data.insert(data.end(), copy.begin(), copy.end());
    }
    return data;
}

TEST_F(Level01, SuperfastCodesBothLengthStreamsFrom2048Sequences) {
    for (std::uint32_t units : {2047u, 2048u}) {
        SCOPED_TRACE(units);
        const Bytes data = UnitsOfLiteralsAndCopy(units);
        const Bytes block = Block(Level::Superfast, data);
        const BlockParts p = Parts(block);
        ASSERT_EQ(p.sequenceCount, units);
        const std::uint8_t kind = units < MinCodedLength ? SectionRaw : SectionCoded;
        EXPECT_EQ(p.kind[LitCodes], kind);
        EXPECT_EQ(p.kind[MatchCodes], kind);
        for (int i = LitExtras; i <= Literals; ++i) EXPECT_NE(p.kind[i], SectionCoded);
        Bytes restored;
        ASSERT_EQ(DecodeBlock(Level::Superfast, block, restored), Status::Ok);
        EXPECT_EQ(restored, data);
        // Level 0 never codes a stream.
        const BlockParts p0 = Parts(Block(Level::Hyperfast, data));
        EXPECT_EQ(p0.kind[LitCodes], SectionRaw);
        EXPECT_EQ(p0.kind[MatchCodes], SectionRaw);
    }
}

TEST_F(Level01, SuperfastLazyLookTakesOnlyALongerMatch) {
    // The match at "abcdefgh" is 6 long ("abcdef1"); at the next position "bcdefg2"
    // ties at 6 and is passed over.
    {
        const Bytes data = Str("_abcdef1bcdefg2#abcdefghXYZWVUTSRQ");
        const BlockParts p = Parts(Block(Level::Superfast, data));
        EXPECT_EQ(p.stream[LitCodes], (Bytes{8, 3, 12}));
        EXPECT_EQ(p.stream[MatchCodes], (Bytes{5, 6, 0}));
        EXPECT_EQ(p.stream[Offsets], (Bytes{3, 3}));
        EXPECT_EQ(p.offsetLow, (Bytes{6, 15}));
        EXPECT_EQ(p.stream[Literals], Str("_abcdef1g2#ghXYZWVUTSRQ"));
    }
    // "bcdefgh2" gives 7 at the next position: taken, with the 'a' as a literal.
    {
        const Bytes data = Str("_abcdef1bcdefgh2#abcdefghXYZWVUTSRQ");
        const BlockParts p = Parts(Block(Level::Superfast, data));
        EXPECT_EQ(p.stream[LitCodes], (Bytes{8, 5, 10}));
        EXPECT_EQ(p.stream[MatchCodes], (Bytes{5, 7, 0}));
        EXPECT_EQ(p.stream[Offsets], (Bytes{3, 3}));
        EXPECT_EQ(p.offsetLow, (Bytes{6, 10}));
        EXPECT_EQ(p.stream[Literals], Str("_abcdef1gh2#aXYZWVUTSRQ"));
    }
}

// A 32-byte marker twice, `distance` apart, in filler without repeated 4-byte groups.
Bytes MarkerPair(std::size_t distance) {
    static const Bytes filler = DeBruijn("abcdefghijklmnopq", 4);
    const Bytes marker = Str("0123456789ABCDEFGHIJKLMNOPQRSTUV");
    const std::size_t gap = distance - 34;  // "(" marker "!" gap ")"
    return Concat({Str("_("), marker, Str("!"), Bytes(filler.begin(), filler.begin() + std::ptrdiff_t(gap)),
                   Str(")"), marker, Str("?"),
                   Bytes(filler.begin() + std::ptrdiff_t(gap), filler.begin() + std::ptrdiff_t(gap + 20))});
}

TEST_F(Level01, DistancesStopAtEachLevelsWindow) {
    struct Case {
        Level level;
        std::size_t distance;
        Bytes offsets, low;
    };
    const Case cases[] = {
        {Level::Hyperfast, 65534, {0xFF}, {0xFE}},
        {Level::Hyperfast, 65535, {}, {}},
        {Level::Superfast, 64511, {3 + 0xFB}, {0xFF}},
        {Level::Superfast, 64512, {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.distance);
        const Bytes data = MarkerPair(c.distance);
        const Bytes block = Block(c.level, data);
        const BlockParts p = Parts(block);
        EXPECT_EQ(p.stream[Offsets], c.offsets);
        EXPECT_EQ(p.offsetLow, c.low);
        Bytes restored;
        ASSERT_EQ(DecodeBlock(c.level, block, restored), Status::Ok);
        EXPECT_EQ(restored, data);
    }
}

// ---- Decoder semantics on hand-made streams ----------------------------------------

// Applies matches of the given distances (4 bytes each) byte by byte after a prefix.
Bytes ExpectedAfterMatches(Bytes out, std::initializer_list<std::size_t> distances, std::size_t length) {
    for (std::size_t d : distances) {
        for (std::size_t i = 0; i < length; ++i) out.push_back(out[out.size() - d]);
    }
    return out;
}

TEST_F(Level01, SuperfastDecoderMovesRecentOffsetSlots) {
    // New 8, 3, 5; then code 2 (rep2 = 8, rep1 stays 3), code 1 (3), code 1 (back to
    // 8), code 0 (8).
    const Bytes streams[6] = {{8, 0, 0, 0, 0, 0, 0}, {4, 4, 4, 4, 4, 4, 4}, {}, {},
                              {3, 3, 3, 2, 1, 1, 0}, Str("abcdefgh")};
    Bytes restored;
    ASSERT_EQ(DecodeStreams(Level::Superfast, 7, {8, 3, 5}, streams, 36, restored), Status::Ok);
    EXPECT_EQ(restored, ExpectedAfterMatches(Str("abcdefgh"), {8, 3, 5, 8, 3, 8, 8}, 4));
}

TEST(CopyMatchTest, EqualsAByteByByteForwardCopy) {
    for (std::size_t distance = 1; distance <= 40; ++distance) {
        for (std::size_t length = 1; length <= 130; ++length) {
            // Exactly the promised overrun behind the match, so ASan sees more.
            const std::size_t size = distance + length + CopyMatchOverrun;
            auto buffer = std::make_unique<std::uint8_t[]>(size);
            const Bytes seed = RandomBytes(distance, std::uint32_t(distance));
            std::memcpy(buffer.get(), seed.data(), distance);
            Bytes expected = seed;
            for (std::size_t i = 0; i < length; ++i) expected.push_back(expected[expected.size() - distance]);
            CopyMatch(buffer.get() + distance, distance, length);
            ASSERT_EQ(Bytes(buffer.get(), buffer.get() + distance + length), expected)
                << "distance " << distance << " length " << length;
        }
    }
}

// ---- Round trips ---------------------------------------------------------------------

TEST_F(Level01, EveryShortChunkRoundTripsThroughTheBlockCodecs) {
    const Bytes sources[] = {TextLike(64, 1), Bytes(64, 0), Repeat("ab", 64), BinaryLike(64, 2), RandomBytes(64, 3)};
    for (Level level : kLevels) {
        for (const Bytes& source : sources) {
            for (std::size_t n = 1; n <= 64; ++n) {
                const Bytes data(source.begin(), source.begin() + std::ptrdiff_t(n));
                Bytes restored;
                ASSERT_EQ(DecodeBlock(level, Block(level, data), restored), Status::Ok) << n;
                ASSERT_EQ(restored, data) << n;
            }
        }
    }
}

TEST(Level01Memory, VariedInputsRoundTrip) {
    const std::size_t MiB = MaxChunkLength;
    struct Sample {
        const char* name;
        Bytes data;
        bool compressible;
    };
    Bytes mixed = Concat({TextLike(MiB, 11), BinaryLike(MiB, 12), Runs(MiB / 2, 13), TextLike(MiB / 3, 14)});
    const Sample samples[] = {
        {"text", TextLike(300000, 1), true},
        {"binary", BinaryLike(300000, 2), true},
        {"zeros", Bytes(200000, 0), true},
        {"runs", Runs(400000, 3), true},
        {"random", RandomBytes(200000, 4), false},
        {"one short of 1 MiB", TextLike(MiB - 1, 5), true},
        {"exactly 1 MiB", TextLike(MiB, 6), true},
        {"1 MiB + 1", TextLike(MiB + 1, 7), true},
        {"several MiB", mixed, true},
        {"far repeats", ReadFileBytes(DataPath("conformance/far-repeats-200k.bin")), true},
    };
    for (Level level : kLevels) {
        EXPECT_TRUE(Compress(level, {}).empty());
        for (const Sample& s : samples) {
            SCOPED_TRACE(std::string(LevelName(level)) + " " + s.name);
            ASSERT_FALSE(s.data.empty());
            const Bytes container = Compress(level, s.data);
            ASSERT_FALSE(container.empty());
            if (s.compressible) {
                EXPECT_LT(container.size(), s.data.size());  // kept as compressed blocks
            }
            Bytes restored;
            ASSERT_EQ(Decompress(level, container, restored), Status::Ok);
            EXPECT_TRUE(restored == s.data);
        }
    }
}

TEST_F(Level01, SuperfastTextHitsEveryRecentOffsetSlot) {
    const Bytes data = TextLike(500000, 1);
    const Bytes block = Block(Level::Superfast, data);
    const BlockParts p = Parts(block);
    std::size_t uses[4] = {};
    for (std::uint8_t code : p.stream[Offsets]) ++uses[code < 3 ? code : 3];
    for (std::size_t u : uses) EXPECT_GT(u, 0u);
    Bytes restored;
    ASSERT_EQ(DecodeBlock(Level::Superfast, block, restored), Status::Ok);
    EXPECT_TRUE(restored == data);
}

TEST_F(Level01, CompressorsStayInsideTheBlockSink) {
    const Bytes data = TextLike(5000, 9);
    for (Level level : kLevels) {
        const Bytes full = Block(level, data);
        Bytes block;
        // Exactly sized sinks (ASan sees a write past them): one byte short fails.
        EXPECT_EQ(CompressBlock(level, data, block, full.size()), Status::Ok);
        EXPECT_EQ(block, full);
        for (std::size_t room : {full.size() - 1, full.size() / 2, std::size_t(40), std::size_t(17), std::size_t(3)}) {
            EXPECT_EQ(CompressBlock(level, data, block, room), Status::NoRoom) << room;
        }
    }
}

// ---- Damaged blocks ----------------------------------------------------------------

TEST_F(Level01, EveryStreamOneByteLongOrShortIsRefused) {
    const Bytes data = Concat({TextLike(3000, 21), Runs(3000, 22), Str("tail-of-literals")});
    for (Level level : kLevels) {
        const BlockParts original = Parts(Block(level, data));
        Bytes restored;
        ASSERT_EQ(DecodeBlock(level, Rebuild(original), restored), Status::Ok);
        ASSERT_EQ(restored, data);
        for (int i = -1; i < 6; ++i) {
            for (int change : {+1, -1}) {
                SCOPED_TRACE(std::string(LevelName(level)) + " stream " + std::to_string(i) + " by " +
                             std::to_string(change));
                BlockParts p = original;
                Bytes& s = i < 0 ? p.offsetLow : p.stream[i];
                ASSERT_FALSE(s.empty());
                if (change > 0) {
                    s.push_back(s.back());
                } else {
                    s.pop_back();
                }
                EXPECT_NE(DecodeBlock(level, Rebuild(p), restored), Status::Ok);
            }
        }
        for (int change : {+1, -1}) {
            BlockParts p = original;
            p.sequenceCount += std::uint32_t(change);
            EXPECT_NE(DecodeBlock(level, Rebuild(p), restored), Status::Ok);
            p = original;
            p.chunkLength += std::uint32_t(change);
            EXPECT_NE(DecodeBlock(level, Rebuild(p), restored), Status::Ok);
        }
    }
}

TEST_F(Level01, FlippedBytesAndSectionLengthsAreHandledSafely) {
    // Small blocks from real data: the second of each level has coded length streams
    // at level 1.
    const Bytes inputs[] = {Concat({TextLike(2500, 31), Runs(1500, 32)}), UnitsOfLiteralsAndCopy(2100)};
    for (Level level : kLevels) {
        for (const Bytes& data : inputs) {
            const Bytes block = Block(level, data);
            // Every byte of the first 600 (header, low bytes, section heads), then a sample.
            std::size_t rejected = 0, tried = 0;
            for (std::size_t at = 0; at < block.size(); at += at < 600 ? 1 : 29) {
                for (std::uint8_t mask : {0x01, 0x80, 0xFF}) {
                    Bytes damaged = block;
                    damaged[at] ^= mask;
                    Bytes restored;
                    const Status s = DecodeBlock(level, damaged, restored);
                    ++tried;
                    if (s != Status::Ok) {
                        ++rejected;
                    } else {
                        EXPECT_EQ(restored.size(), LoadLE32(damaged.data() + 5));
                    }
                    if (at < CompressedHeaderLength) {
                        EXPECT_NE(s, Status::Ok) << at;
                    }
                }
            }
            EXPECT_GT(rejected, 0u);
            EXPECT_GT(tried, rejected);
            // The length field of each raw section one off, the rest untouched.
            const BlockParts p = Parts(block);
            std::size_t section = CompressedHeaderLength + p.offsetLowLength;
            for (int i = 0; i < 6; ++i) {
                const std::uint8_t kind = block[section];
                if (kind == SectionRaw) {
                    for (int change : {+1, -1}) {
                        Bytes damaged = block;
                        StoreLE32(damaged.data() + section + 1, LoadLE32(block.data() + section + 1) + std::uint32_t(change));
                        Bytes restored;
                        EXPECT_NE(DecodeBlock(level, damaged, restored), Status::Ok) << "section " << i;
                    }
                }
                section += kind == SectionRaw ? 5 + LoadLE32(block.data() + section + 1)
                           : kind == SectionCoded ? 9 + LoadLE32(block.data() + section + 5)
                                                  : 1;
            }
            EXPECT_EQ(section, block.size());
        }
    }
}

TEST(Level01Memory, EveryPrefixOfAContainerIsRefused) {
    BlockWorkspace ws;
    for (Level level : kLevels) {
        const Bytes container = Compress(level, TextLike(3000, 41));
        ASSERT_EQ(container[1], CompressedBlockKind);
        Bytes restored;
        for (std::size_t n = 2; n < container.size(); ++n) {
            // A copy of exactly n bytes, so ASan sees any read past it.
            const Bytes prefix(container.begin(), container.begin() + std::ptrdiff_t(n));
            EXPECT_NE(DecompressBuffer(level, prefix.data(), n, restored, ws), Status::Ok) << n;
        }
    }
}

TEST_F(Level01, StreamsBreakingALimitAreRefused) {
    const Bytes lits = Str("abcd");
    Bytes out;
    struct Case {
        const char* what;
        Level level;
        std::uint32_t count;
        Bytes low;
        Bytes streams[6];
        std::size_t chunk;
    };
    const Case cases[] = {
        {"distance 0", Level::Hyperfast, 1, {0}, {{4}, {4}, {}, {}, {0}, lits}, 8},
        {"distance past the start", Level::Hyperfast, 1, {5}, {{4}, {4}, {}, {}, {0}, lits}, 8},
        {"no offset bytes left", Level::Hyperfast, 2, {4}, {{4, 0}, {4, 4}, {}, {}, {0}, lits}, 12},
        {"high and low counts differ", Level::Hyperfast, 1, {4}, {{4}, {4}, {}, {}, {0, 0}, lits}, 8},
        {"more literals than the stream", Level::Hyperfast, 1, {}, {{5}, {0}, {}, {}, {}, lits}, 5},
        {"output past the chunk", Level::Hyperfast, 1, {4}, {{4}, {4}, {}, {}, {0}, lits}, 7},
        {"output short of the chunk", Level::Hyperfast, 1, {4}, {{4}, {4}, {}, {}, {0}, lits}, 9},
        {"extension cut short", Level::Hyperfast, 1, {}, {{15}, {0}, {255, 0}, {}, {}, lits}, 270},
        {"extension missing", Level::Hyperfast, 1, {}, {{4}, {15}, {}, {}, {0}, lits}, 23},
        {"code streams of unequal length", Level::Hyperfast, 1, {}, {{4}, {0, 0}, {}, {}, {}, lits}, 4},
        {"extension left over", Level::Hyperfast, 1, {}, {{4}, {0}, {7}, {}, {}, lits}, 4},
        {"match past the chunk", Level::Superfast, 1, {1}, {{4}, {15}, {}, {255, 255, 255}, {3}, lits}, 100},
        {"empty recent slot", Level::Superfast, 2, {4}, {{4, 0}, {4, 4}, {}, {}, {3, 1}, lits}, 12},
        {"rep0 before any distance", Level::Superfast, 1, {}, {{4}, {4}, {}, {}, {0}, lits}, 8},
        {"new distance 0", Level::Superfast, 1, {0}, {{4}, {4}, {}, {}, {3}, lits}, 8},
        {"new distance past the start", Level::Superfast, 1, {0}, {{4}, {4}, {}, {}, {4}, lits}, 8},
        {"no low byte left", Level::Superfast, 1, {}, {{4}, {4}, {}, {}, {3}, lits}, 8},
        {"low byte left over", Level::Superfast, 1, {4, 4}, {{4}, {4}, {}, {}, {3}, lits}, 8},
        {"offset code left over", Level::Superfast, 1, {4}, {{4}, {4}, {}, {}, {3, 0}, lits}, 8},
    };
    for (const Case& c : cases) {
        EXPECT_NE(DecodeStreams(c.level, c.count, c.low, c.streams, c.chunk, out), Status::Ok) << c.what;
    }
    // The same shapes within their limits decode: distance equal to the bytes written,
    // and the match lengths 1 to 3 that no compressor writes.
    const Bytes ok[6] = {{4, 0}, {4, 2}, {}, {}, {0, 0}, lits};
    ASSERT_EQ(DecodeStreams(Level::Hyperfast, 2, {4, 1}, ok, 10, out), Status::Ok);
    EXPECT_EQ(out, Str("abcdabcddd"));
}

}  // namespace
}  // namespace orsk::test
