// Deterministic sample data and small file helpers for the tests.
#include "test_util.h"

#include <atomic>
#include <memory>
#include <cstring>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <unistd.h>

#include <gtest/gtest.h>

#include "codecs/best/best.h"
#include "codecs/better/better.h"
#include "codecs/fast/fast.h"
#include "codecs/normal/normal.h"
#include "container/blocks/sections.h"
#include "container/drivers/block.h"
#include "container/drivers/memory.h"

namespace orsk::test {

namespace {

// xorshift32: the same sequence everywhere.
struct Rng {
    std::uint32_t s;
    explicit Rng(std::uint32_t seed) : s(seed * 2654435761u + 1) {}
    std::uint32_t Next() {
        s ^= s << 13;
        s ^= s >> 17;
        s ^= s << 5;
        return s;
    }
};

const char* const kWords[] = {"the", "of", "and", "to", "in", "a", "is", "that", "for", "it", "as", "was", "with",
                              "be", "by", "on", "not", "he", "this", "are", "or", "his", "from", "at", "which",
                              "but", "have", "an", "had", "they", "you", "were", "their", "one", "all", "we",
                              "compression", "block", "stream", "window", "literal", "sequence", "distance",
                              "entropy", "container", "Huffman", "chunk", "offset", "length", "program"};

}  // namespace

Bytes RandomBytes(std::size_t n, std::uint32_t seed) {
    Rng r(seed);
    Bytes b(n);
    for (auto& x : b) x = std::uint8_t(r.Next() >> 24);
    return b;
}

Bytes TextLike(std::size_t n, std::uint32_t seed) {
    Rng r(seed);
    Bytes b;
    b.reserve(n + 32);
    const std::size_t wordCount = sizeof kWords / sizeof kWords[0];
    while (b.size() < n) {
        const char* w = kWords[(r.Next() >> 8) % wordCount];
        if (r.Next() % 13 == 0 && b.size() > 0) {
            b.push_back('.');
            b.push_back(r.Next() % 3 == 0 ? '\n' : ' ');
        }
        for (const char* p = w; *p != 0; ++p) b.push_back(std::uint8_t(*p));
        b.push_back(' ');
        if (r.Next() % 17 == 0) {
            const std::uint32_t num = r.Next() % 100000;
            for (char c : std::to_string(num)) b.push_back(std::uint8_t(c));
            b.push_back(' ');
        }
    }
    b.resize(n);
    return b;
}

Bytes BinaryLike(std::size_t n, std::uint32_t seed) {
    Rng r(seed);
    Bytes b;
    b.reserve(n + 32);
    std::uint32_t counter = 0;
    while (b.size() < n) {
        // A record: tag, little-endian counter, a small value, a pointer-like word.
        b.push_back(std::uint8_t(0xE8 + (r.Next() & 1)));
        for (int i = 0; i < 4; ++i) b.push_back(std::uint8_t(counter >> (8 * i)));
        b.push_back(std::uint8_t(r.Next() % 7));
        const std::uint32_t ptr = 0x401000 + (r.Next() % 4096) * 16;
        for (int i = 0; i < 4; ++i) b.push_back(std::uint8_t(ptr >> (8 * i)));
        if (r.Next() % 5 == 0) b.push_back(std::uint8_t(r.Next()));
        counter += 1 + r.Next() % 3;
    }
    b.resize(n);
    return b;
}

Bytes Runs(std::size_t n, std::uint32_t seed) {
    Rng r(seed);
    Bytes b;
    b.reserve(n);
    while (b.size() < n) {
        const std::uint8_t v = std::uint8_t(r.Next() % 4);
        std::size_t len = 1 + r.Next() % 3000;
        if (r.Next() % 50 == 0) len = 70000 + r.Next() % 70000;
        for (std::size_t i = 0; i < len && b.size() < n; ++i) b.push_back(v);
    }
    return b;
}

Bytes Repeat(const std::string& pattern, std::size_t n) {
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i) b[i] = std::uint8_t(pattern[i % pattern.size()]);
    return b;
}

Bytes ReadFileBytes(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    if (!f) return {};
    return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

void WriteFileBytes(const std::string& path, const Bytes& data) {
    std::ofstream f(path, std::ios::binary);
    f.write(reinterpret_cast<const char*>(data.data()), std::streamsize(data.size()));
}

std::string DataPath(const std::string& name) { return std::string(ORSK_TEST_DATA) + "/" + name; }

std::string TempPath(const std::string& name) {
    static std::atomic<int> counter{0};
    const auto dir = std::filesystem::temp_directory_path() /
                     ("orsk-test-" + std::to_string(getpid()) + "-" + std::to_string(counter++));
    std::filesystem::create_directories(dir);
    return (dir / name).string();
}

BlockView ViewBlock(Level level, const Bytes& block) {
    BlockView v;
    if (block.size() < CompressedHeaderLength || block[0] != CompressedBlockKind) {
        ADD_FAILURE() << "not a compressed block";
        return v;
    }
    const std::uint8_t* h = block.data();
    if (level == Level::Normal) {
        v.chunkLength = LoadLE32(h + 1);
        v.blockLength = LoadLE32(h + 5);
        v.sequenceCount = LoadLE32(h + 9);
        v.lowLength = LoadLE32(h + 13);
    } else {
        v.sequenceCount = LoadLE32(h + 1);
        v.chunkLength = LoadLE32(h + 5);
        v.lowLength = LoadLE32(h + 9);
        v.blockLength = LoadLE32(h + 13);
    }
    EXPECT_EQ(v.blockLength, block.size());
    const int sections = level == Level::Best ? 7 : 6;
    std::size_t at = CompressedHeaderLength + v.lowLength;
    if (at > block.size()) {
        ADD_FAILURE() << "distance bytes run past the block";
        return v;
    }
    v.low.assign(h + CompressedHeaderLength, h + at);
    for (int i = 0; i < sections && at < block.size(); ++i) {
        v.kinds[std::size_t(i)] = block[at];
        if (block[at] == SectionRaw) {
            at += 5 + LoadLE32(h + at + 1);
        } else if (block[at] == SectionCoded) {
            at += 9 + LoadLE32(h + at + 5);
        } else {
            at += 1;
        }
    }
    EXPECT_EQ(at, block.size());
    Bytes padded(block);
    padded.resize(block.size() + StreamReadSlack);
    static BlockWorkspace ws;
    if (ws.PrepareDecompress() != Status::Ok) return v;
    BlockStreams bs;
    ByteCursor payload{padded.data() + CompressedHeaderLength + v.lowLength, padded.data() + block.size()};
    EXPECT_EQ(UnpackSections(payload, sections, ws.decodeBuffers(), bs), Status::Ok);
    for (int i = 0; i < sections; ++i) v.streams[std::size_t(i)].assign(bs.stream[i].at, bs.stream[i].end);
    return v;
}

Bytes Compress(Level level, const Bytes& input) {
    BlockWorkspace ws;
    Bytes out;
    if (CompressBuffer(level, input.data(), input.size(), out, ws) != Status::Ok) return {};
    return out;
}

Status Decompress(Level level, const Bytes& container, Bytes& output) {
    BlockWorkspace ws;
    return DecompressBuffer(level, container.data(), container.size(), output, ws);
}

BlockWorkspace& Workspace() {
    static BlockWorkspace ws;
    EXPECT_EQ(ws.PrepareCompress(), Status::Ok);
    EXPECT_EQ(ws.PrepareDecompress(), Status::Ok);
    return ws;
}

StreamDecodeTables& DecodeTables() { return *Workspace().decodeBuffers().tables; }

Bytes CompressBlock(Level level, const Bytes& chunk, std::uint8_t slack) {
    BlockWorkspace& ws = Workspace();
    std::memcpy(ws.chunk(), chunk.data(), chunk.size());
    std::memset(ws.chunk() + chunk.size(), slack, InputSlack);
    ByteSink sink{ws.block(), ws.block(), ws.block() + OutputBlockBufferSize};
    EncoderScratch& scratch = ws.scratch();
    const std::uint8_t* const in = ws.chunk();
    Status st = Status::Corrupt;
    switch (level) {
        case Level::Fast: st = FastCompressBlock(FastSettings{}, scratch, in, chunk.size(), sink); break;
        case Level::Normal: st = NormalCompressBlock(NormalSettings{}, scratch, in, chunk.size(), sink); break;
        case Level::Better: st = BetterCompressBlock(BetterSettings{}, scratch, in, chunk.size(), sink); break;
        case Level::Best: st = BestCompressBlock(BestSettings{}, scratch, in, chunk.size(), sink); break;
        default: ADD_FAILURE() << "no block compressor helper for level " << int(level);
    }
    EXPECT_EQ(st, Status::Ok);
    return Bytes(ws.block(), sink.at);
}

Status RestoreAt(Level level, const Bytes& block, Bytes& out) {
    auto padded = std::make_unique<std::uint8_t[]>(block.size() + StreamReadSlack);
    std::memcpy(padded.get(), block.data(), block.size());
    RestoredBlock restored;
    const Status st = RestoreBlock(level, Workspace(), padded.get(), block.size(), restored);
    if (st == Status::Ok) out.assign(restored.data, restored.data + restored.length);
    return st;
}

}  // namespace orsk::test
