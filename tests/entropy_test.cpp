// Stream entropy coder: code construction, exact coded bytes, round trips and damaged
// bodies (decoded from buffers that end exactly where the body ends).
#include <gtest/gtest.h>

#include <bit>
#include <string>

#include "container/blocks/sections.h"
#include "entropy/stream_coder.h"
#include "test_util.h"

namespace orsk {
namespace {

using test::Bytes;

// Geometric-like: value k * step with probability about 2^-(k+1), k = 0..8.
Bytes Skewed(std::size_t n, unsigned step, std::uint32_t seed) {
    Bytes b = test::RandomBytes(n, seed);
    for (auto& x : b) x = std::uint8_t(std::countr_zero(unsigned(x) | 0x100u) * step);
    return b;
}

Bytes Encode(const Bytes& data) {
    const std::size_t size = CodedStreamSize(data.data(), data.size());
    Bytes coded(size);
    ByteSink sink{coded.data(), coded.data(), coded.data() + size};
    EXPECT_EQ(EncodeStream(data.data(), data.size(), sink), Status::Ok);
    EXPECT_EQ(Written(sink), size);
    return coded;
}

// Decodes the body of `coded` (after N and S), cut to bodyLength, with count n, from a
// copy flush with the end of its allocation into exactly n + SectionSlack bytes.
Status Decode(const Bytes& coded, std::size_t n, Bytes& out, std::size_t bodyLength = SIZE_MAX) {
    const Bytes body(coded.begin() + 8, coded.begin() + 8 + std::ptrdiff_t(std::min(bodyLength, coded.size() - 8)));
    out.assign(n + SectionSlack, 0);
    const Status st = DecodeStream(body.data(), body.size(), out.data(), n, test::DecodeTables());
    out.resize(n);
    return st;
}

void ExpectRoundTrip(const Bytes& data) {
    const Bytes coded = Encode(data);
    ASSERT_EQ(LoadLE32(coded.data()), data.size());
    ASSERT_EQ(LoadLE32(coded.data() + 4), coded.size() - 8);
    Bytes out;
    ASSERT_EQ(Decode(coded, data.size(), out), Status::Ok) << "length " << data.size();
    ASSERT_EQ(out, data) << "length " << data.size();
}

struct BuiltCode {
    unsigned n = 0;
    std::uint32_t lengthCounts[13] = {};
    CodeEntry symbols[256];
    CodeEntry codes[256];
};

BuiltCode BuildFromCounts(const std::vector<std::uint32_t>& counts) {  // counts[v] per byte value v
    BuiltCode b;
    for (unsigned v = 0; v < counts.size(); ++v) {
        if (counts[v] == 0) continue;
        b.symbols[b.n].symbol = std::uint16_t(v);
        b.symbols[b.n++].count = counts[v];
    }
    BuildPrefixCode(b.n, b.lengthCounts, b.symbols, b.codes);
    return b;
}

// The invariants of a finished code, checked from first principles.
void ExpectSoundCode(const BuiltCode& b) {
    std::uint32_t counted[13] = {};
    std::uint32_t kraft = 0;
    for (unsigned i = 0; i < b.n; ++i) {
        const CodeEntry& c = b.codes[i];
        ASSERT_TRUE(c.length >= 1 && c.length <= MaxCodeLength) << i;
        ASSERT_TRUE(i == 0 || c.length <= b.codes[i - 1].length) << "lengths grow at " << i;
        ASSERT_LT(c.code, 1u << c.length);
        ++counted[c.length];
        kraft += 1u << (MaxCodeLength - c.length);
        for (unsigned j = 0; j < i; ++j) {  // no shorter code is a prefix of a longer one
            ASSERT_NE(b.codes[j].code >> (b.codes[j].length - c.length), c.code) << i << " prefixes " << j;
        }
    }
    EXPECT_LE(kraft, 4096u);
    for (unsigned l = 0; l <= MaxCodeLength; ++l) EXPECT_EQ(b.lengthCounts[l], counted[l]) << "length " << l;
    EXPECT_EQ(b.codes[b.n - 1].code, 0) << "the most frequent symbol has the all-zero code";
}

// Equal counts: a complete tree in value order. Fewer symbols and the order of unequal
// counts are pinned by the exact coded bytes below.
TEST(CodeBuilder, EqualCountsFillAFullTree) {
    const BuiltCode flat = BuildFromCounts(std::vector<std::uint32_t>(256, 3));
    for (unsigned i = 0; i < 256; ++i) {
        EXPECT_EQ(flat.codes[i].symbol, i);
        EXPECT_EQ(flat.codes[i].length, 8);
        EXPECT_EQ(flat.codes[i].code, 255 - i);
    }
}

TEST(CodeBuilder, DeepTreesAreClampedToTwelveBits) {
    for (unsigned n = 14; n <= 28; ++n) {  // Fibonacci counts: tree depth n - 1
        std::vector<std::uint32_t> counts(256, 0);
        for (std::uint32_t i = 0, a = 1, b = 1; i < n; ++i, b += a, a = b - a) counts[(i * 37) % 256] = a;
        ExpectSoundCode(BuildFromCounts(counts));
    }
    const Bytes noise = test::RandomBytes(1500 * 257, 99);  // random skewed histograms
    for (std::size_t round = 0; round < 1500; ++round) {
        const std::uint8_t* r = noise.data() + 257 * round;
        std::vector<std::uint32_t> counts(256, 0);
        for (unsigned v = 0; v < 256; ++v) {
            // up to 4096 each, so no stream passes 1 MiB
            if (r[v] % 4 != 0 || v < r[256] % 4) counts[v] = 1 + ((std::uint32_t(r[(v * 7) % 256]) << (r[v] % 9)) >> 4);
        }
        ExpectSoundCode(BuildFromCounts(counts));
        if (HasFailure()) return;
    }
}

TEST(EncodeStream, ExactBytesOfSmallSections) {
    // 2048 equal bytes: one 1-bit code "0", 32 zero words.
    Bytes expected = {0x00, 0x08, 0, 0, 28, 1, 0, 0, 0, 'x', 0, 0, 0, 1};
    expected.resize(292, 0);
    EXPECT_EQ(Encode(Bytes(2048, 'x')), expected);

    // "abac": b and c (512 each, b first by value) get 11 and 10, a (1024) gets 0, so
    // the string is 011010 repeated: a 192-bit period, three distinct words.
    Bytes abac;
    for (int i = 0; i < 512; ++i) abac.insert(abac.end(), {'a', 'b', 'a', 'c'});
    expected = {0x00, 0x08, 0, 0, 0x9e, 1, 0, 0, 2, 'b', 'c', 'a', 0, 0, 0, 1, 0, 2};
    expected.resize(38, 0);
    const std::uint8_t period[24] = {0xa6, 0x69, 0x9a, 0xa6, 0x69, 0x9a, 0xa6, 0x69, 0x69, 0x9a, 0xa6, 0x69,
                                     0x9a, 0xa6, 0x69, 0x9a, 0x9a, 0xa6, 0x69, 0x9a, 0xa6, 0x69, 0x9a, 0xa6};
    for (int i = 0; i < 16; ++i) expected.insert(expected.end(), period, period + 24);
    EXPECT_EQ(Encode(abac), expected);

    // Alternating pair: 2048 bits fill 32 words exactly; one more byte needs a 33rd.
    Bytes pair = test::Repeat("pq", 2048);
    EXPECT_EQ(Encode(pair).size(), 35u + 2 + 8 * 32);
    pair.push_back('p');
    EXPECT_EQ(Encode(pair).size(), 35u + 2 + 8 * 33);

    const Bytes text = test::TextLike(5000, 3);
    Bytes area(CodedStreamSize(text.data(), text.size()) - 1);  // one byte short: nothing written
    ByteSink sink{area.data(), area.data(), area.data() + area.size()};
    EXPECT_EQ(EncodeStream(text.data(), text.size(), sink), Status::NoRoom);
    EXPECT_EQ(EncodeStream(text.data(), 0, sink), Status::NoRoom);  // empty: no coded form
    EXPECT_EQ(Written(sink), 0u);
}

TEST(StreamRoundTrip, VariedStreams) {
    for (std::size_t n = 1; n <= 100; ++n) {
        ExpectRoundTrip(Skewed(n, 1, std::uint32_t(n)));
        ExpectRoundTrip(test::RandomBytes(n, std::uint32_t(n)));
        ExpectRoundTrip(Bytes(n, 0xFF));
    }
    for (std::size_t n : {63, 64, 65, 127, 128, 129, 2047, 2048, 2049}) {  // 1-bit codes: n bits
        ExpectRoundTrip(Bytes(n, 7));
        ExpectRoundTrip(test::Repeat("aab", n));
    }
    ExpectRoundTrip(Skewed(100000, 3, 5));
    ExpectRoundTrip(test::BinaryLike(300000, 6));
    ExpectRoundTrip(test::TextLike(MaxStreamLength, 8));
    ExpectRoundTrip(test::RandomBytes(MaxStreamLength, 9));
    ExpectRoundTrip(Skewed(MaxStreamLength, 17, 10));

    // Fibonacci counts, shuffled: 12-bit codes and, after the repair, an incomplete code.
    Bytes fibonacci;
    for (std::uint32_t v = 0, a = 1, b = 1; v < 26; ++v, b += a, a = b - a) {
        fibonacci.insert(fibonacci.end(), a, std::uint8_t(v * 9));
    }
    const Bytes noise = test::RandomBytes(4 * fibonacci.size(), 11);
    for (std::size_t i = fibonacci.size() - 1; i > 0; --i) std::swap(fibonacci[i], fibonacci[LoadLE32(&noise[4 * i]) % (i + 1)]);
    ExpectRoundTrip(fibonacci);
}

TEST(DecodeStreamSlow, RejectsEveryCutAndBitFlip) {
    const Bytes data = test::TextLike(2300, 12);
    const Bytes coded = Encode(data);
    const std::size_t n = data.size();
    Bytes out;
    for (std::size_t length = 0; length < coded.size() - 8; ++length) {
        ASSERT_NE(Decode(coded, n, out, length), Status::Ok) << "truncated to " << length;
    }
    for (std::size_t bad : {std::size_t(0), n / 2, 2 * n, MaxStreamLength + 1}) {
        EXPECT_NE(Decode(coded, bad, out), Status::Ok) << "count " << bad;
    }
    // Every bit flip: no sanitizer report; LengthCounts for lengths 1..12 always fail.
    const std::size_t lengthCounts = 9 + coded[8] + 1u;
    for (std::size_t bit = 0; bit < 8 * (coded.size() - 8); ++bit) {
        Bytes damaged = coded;
        damaged[8 + bit / 8] ^= std::uint8_t(1u << (bit % 8));
        const Status st = Decode(damaged, n, out);
        const std::size_t at = 8 + bit / 8;
        EXPECT_TRUE(at < lengthCounts + 2 || at >= lengthCounts + 26 || st != Status::Ok) << "bit " << bit;
    }
}

// A body whose symbols all have code length `length`, then `words` words of `fill`.
Bytes MakeBody(const std::string& symbols, unsigned length, std::size_t words, std::uint8_t fill) {
    Bytes body(27 + symbols.size(), 0);
    body[0] = std::uint8_t(symbols.size() - 1);
    std::copy(symbols.begin(), symbols.end(), body.begin() + 1);
    body[symbols.size() + 2 * length + 2] = std::uint8_t(symbols.size());
    body.resize(body.size() + 8 * words, fill);
    return body;
}

TEST(DecodeStream, RejectsInconsistentHeaders) {
    Bytes out(100 + SectionSlack);
    const auto decode = [&](const Bytes& b, std::size_t n) { return DecodeStream(b.data(), b.size(), out.data(), n, test::DecodeTables()); };
    // One symbol, code "0": 64 zero bits are 64 symbols; 60 leave four padding bits.
    EXPECT_EQ(decode(MakeBody("q", 1, 1, 0), 64), Status::Ok);
    EXPECT_EQ(out[63], 'q');
    EXPECT_EQ(decode(MakeBody("q", 1, 1, 0), 60), Status::Ok);
    EXPECT_EQ(decode(MakeBody("q", 1, 1, 0), 65), Status::Corrupt);    // words too short
    EXPECT_EQ(decode(MakeBody("q", 1, 2, 0), 64), Status::Corrupt);    // a word too many
    EXPECT_EQ(decode(MakeBody("q", 1, 1, 0xFF), 8), Status::Corrupt);  // "1" starts no code
    Bytes padded = MakeBody("q", 1, 1, 0);
    padded[padded.size() - 8] = 0x08;  // a padding bit set
    EXPECT_EQ(decode(padded, 60), Status::Corrupt);
    Bytes ragged = MakeBody("q", 1, 1, 0);
    ragged.pop_back();
    EXPECT_EQ(decode(ragged, 8), Status::Corrupt);                    // not whole words
    EXPECT_EQ(decode(MakeBody("qrs", 1, 1, 0), 8), Status::Corrupt);  // Kraft sum 3/2
    EXPECT_EQ(decode(MakeBody("qq", 1, 1, 0), 8), Status::Corrupt);   // a symbol twice
    EXPECT_EQ(decode(MakeBody("qrs", 2, 1, 0), 2), Status::Corrupt);  // more symbols than bytes
    EXPECT_EQ(decode(MakeBody("q", 0, 1, 0), 8), Status::Corrupt);    // only LengthCounts[0]
}

// A body of `words` words: `zeros` zero words (code "0" of the one symbol), then 0xFF
// words, whose windows start no code: a decoder must stop there.
Bytes StuckBody(std::size_t words, std::size_t zeros) {
    Bytes body = MakeBody("q", 1, zeros, 0);
    body.resize(body.size() + 8 * (words - zeros), 0xFF);
    return body;
}

// Bodies decoded side by side: each job's status and bytes equal those of a lone decode,
// whatever its neighbours (damaged ones among them, more jobs than run at once).
TEST(DecodeStreams, MatchLoneDecodesWhateverTheNeighbours) {
    const std::vector<Bytes> data = {test::TextLike(300000, 21), Skewed(70000, 1, 22), Bytes(5000, 'z'),
                                     test::RandomBytes(2048, 23), test::BinaryLike(120000, 24), Skewed(2100, 5, 25),
                                     test::TextLike(MaxStreamLength, 26), test::Runs(40000, 27), Skewed(9000, 40, 28)};
    std::vector<Bytes> bodies;
    std::vector<std::size_t> counts;
    for (const Bytes& d : data) {
        const Bytes coded = Encode(d);
        bodies.emplace_back(coded.begin() + 8, coded.end());
        counts.push_back(d.size());
    }
    const Bytes text = Encode(test::TextLike(60000, 29));
    bodies.emplace_back(text.begin() + 8, text.end() - 8);  // a word short
    counts.push_back(60000);
    bodies.emplace_back(text.begin() + 8, text.end());  // more symbols asked for than the padding holds
    counts.push_back(60100);
    bodies.push_back(StuckBody(4000, 1500));  // stuck in the middle of the untested loop
    counts.push_back(64 * 4000);
    bodies.push_back(StuckBody(4000, 3999));  // stuck in the last words
    counts.push_back(64 * 4000);

    for (std::size_t first : {std::size_t(0), std::size_t(9), std::size_t(11)}) {  // a few orders
        std::vector<StreamJob> jobs;
        std::vector<Bytes> outs;
        std::vector<std::size_t> index;
        for (std::size_t k = 0; k < bodies.size(); ++k) index.push_back((first + k) % bodies.size());
        for (std::size_t k : index) outs.emplace_back(counts[k] + SectionSlack, 0);
        for (std::size_t j = 0; j < index.size(); ++j) {
            const std::size_t k = index[j];
            jobs.push_back(StreamJob{bodies[k].data(), bodies[k].size(), outs[j].data(), counts[k]});
        }
        std::vector<Status> status(jobs.size(), Status::Ok);
        DecodeStreams(jobs.data(), int(jobs.size()), status.data(), test::DecodeTables());
        for (std::size_t j = 0; j < index.size(); ++j) {
            const std::size_t k = index[j];
            Bytes alone(counts[k] + SectionSlack);
            const Status expected = DecodeStream(bodies[k].data(), bodies[k].size(), alone.data(), counts[k], test::DecodeTables());
            ASSERT_EQ(status[j], expected) << "body " << k;
            if (k < data.size()) {
                ASSERT_EQ(expected, Status::Ok) << "body " << k;
                ASSERT_TRUE(std::equal(data[k].begin(), data[k].end(), outs[j].begin())) << "body " << k;
            } else {
                EXPECT_EQ(expected, Status::Corrupt) << "body " << k;
            }
        }
    }
    DecodeStreams(nullptr, 0, nullptr, test::DecodeTables());  // nothing to do
}

// The sections of a block, raw, empty and coded, unpack together; the first failure in
// section order is the one reported, whether a damaged body or a section cut short.
TEST(Sections, CodedSectionsUnpackTogether) {
    const Bytes a = test::TextLike(50000, 31);
    const Bytes b = Skewed(30000, 3, 32);
    const Bytes c = test::BinaryLike(3000, 33);
    Bytes block(200000);
    ByteSink sink{block.data(), block.data(), block.data() + block.size()};
    ASSERT_EQ(WriteStreamSection(sink, a.data(), a.size(), true), Status::Ok);
    ASSERT_EQ(WriteRawSection(sink, c.data(), 100), Status::Ok);
    ASSERT_EQ(WriteStreamSection(sink, b.data(), b.size(), true), Status::Ok);
    ASSERT_EQ(WriteRawSection(sink, nullptr, 0), Status::Ok);
    ASSERT_EQ(WriteStreamSection(sink, c.data(), c.size(), true), Status::Ok);
    block.resize(Written(sink) + StreamReadSlack);
    const std::size_t length = Written(sink);
    const std::size_t secondCoded = 1 + 8 + LoadLE32(&block[5]) + 105;

    std::vector<Bytes> memory(MaxSections, Bytes(MaxStreamLength + SectionSlack));
    DecodeBuffers buffers;
    for (int i = 0; i < MaxSections; ++i) buffers.stream[i] = memory[i].data();
    buffers.tables = &test::DecodeTables();
    BlockStreams streams;
    ASSERT_EQ(UnpackSections({block.data(), block.data() + length}, 5, buffers, streams), Status::Ok);
    const Bytes* expected[] = {&a, nullptr, &b, nullptr, &c};
    for (int i : {0, 2, 4}) {
        ASSERT_EQ(Left(streams.stream[i]), expected[i]->size()) << i;
        EXPECT_TRUE(std::equal(expected[i]->begin(), expected[i]->end(), streams.stream[i].at)) << i;
    }
    EXPECT_EQ(Left(streams.stream[1]), 100u);
    EXPECT_EQ(Left(streams.stream[3]), 0u);
    EXPECT_EQ(Left(streams.stream[5]), 0u);

    Bytes damaged = block;
    damaged[secondCoded + 9 + 2] = damaged[secondCoded + 9 + 1];  // second coded body: a symbol twice
    EXPECT_EQ(UnpackSections({damaged.data(), damaged.data() + length}, 5, buffers, streams), Status::Corrupt);
    // A section that runs past its block is damage too, wherever it lies.
    EXPECT_EQ(UnpackSections({damaged.data(), damaged.data() + length - 10}, 5, buffers, streams), Status::Corrupt);
    EXPECT_EQ(UnpackSections({damaged.data(), damaged.data() + secondCoded + 20}, 5, buffers, streams),
              Status::Corrupt);
    EXPECT_EQ(UnpackSections({block.data(), block.data() + length - 10}, 5, buffers, streams), Status::Corrupt);
    Bytes zeroCount = block;
    StoreLE32(&zeroCount[1], 0);  // a coded section that claims no bytes
    EXPECT_EQ(UnpackSections({zeroCount.data(), zeroCount.data() + length}, 5, buffers, streams), Status::Corrupt);
    // Bytes left over behind the last section; kinds no writer makes: a raw section of no
    // bytes, a kind byte above 2.
    EXPECT_EQ(UnpackSections({block.data(), block.data() + length}, 4, buffers, streams), Status::Corrupt);
    const Bytes emptyRaw{SectionRaw, 0, 0, 0, 0}, kind3{3};
    EXPECT_EQ(UnpackSections({emptyRaw.data(), emptyRaw.data() + 5}, 1, buffers, streams), Status::Corrupt);
    EXPECT_EQ(UnpackSections({kind3.data(), kind3.data() + 1}, 1, buffers, streams), Status::Corrupt);
    ByteSink tight{block.data(), block.data(), block.data() + 104};  // a raw section of 100 needs 105
    EXPECT_EQ(WriteRawSection(tight, c.data(), 100), Status::NoRoom);
}

}  // namespace
}  // namespace orsk
