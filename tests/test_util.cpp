// Deterministic sample data, small file helpers and block surgery for the tests.
#include "test_util.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>

#include <gtest/gtest.h>

#include "container/blocks/sections.h"
#include "container/blocks/block_header.h"
#include "container/format/block.h"
#include "container/format/levels.h"
#include "container/drivers/memory.h"

namespace orsk::test {

namespace {

const char* const kWords[] = {"the", "of", "and", "to", "in", "a", "is", "that", "for", "it", "as", "was", "with",
                              "be", "by", "on", "not", "he", "this", "are", "or", "his", "from", "at", "which",
                              "but", "have", "an", "had", "they", "you", "were", "their", "one", "all", "we",
                              "compression", "block", "stream", "window", "literal", "sequence", "distance",
                              "entropy", "container", "Huffman", "chunk", "offset", "length", "program"};

void Append(Bytes& b, const std::string& s) { b.insert(b.end(), s.begin(), s.end()); }

}  // namespace

const char* KindName(Kind kind) {
    static const char* const names[] = {"text", "binary", "random", "runs", "records"};
    return names[int(kind)];
}

Bytes Sample(Kind kind, std::size_t n, std::uint32_t seed) {
    switch (kind) {
        case Kind::Text: return TextLike(n, seed);
        case Kind::Binary: return BinaryLike(n, seed);
        case Kind::Random: return RandomBytes(n, seed);
        case Kind::Runs: return Runs(n, seed);
        case Kind::Records: return RecordsLike(n, seed);
    }
    return {};
}

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
    while (b.size() < n) {
        if (r.Next() % 13 == 0 && !b.empty()) Append(b, r.Next() % 3 == 0 ? ".\n" : ". ");
        Append(b, kWords[(r.Next() >> 8) % std::size(kWords)]);
        b.push_back(' ');
        if (r.Next() % 17 == 0) Append(b, std::to_string(r.Next() % 100000) + " ");
    }
    b.resize(n);
    return b;
}

Bytes BinaryLike(std::size_t n, std::uint32_t seed) {
    Rng r(seed);
    Bytes b;
    b.reserve(n + 64);
    std::uint32_t counter = 0;
    std::size_t headers = 0;
    while (b.size() < n) {
        const std::size_t at = b.size() % MaxChunkLength;
        if (b.size() / MaxChunkLength >= headers) {
            // Each chunk opens like an executable image, so NORMAL's call filter works on it.
            ++headers;
            b.insert(b.end(), {'M', 'Z'});
            b.resize(b.size() + 58, 0);
            b.insert(b.end(), {'P', 'E', 0, 0});
        } else if (at >= 600000 && at < 672000) {
            b.push_back(std::uint8_t(r.Next() >> 24));  // an incompressible resource
        } else {
            // A record: call opcode, little-endian counter, a small value, an address.
            b.push_back(std::uint8_t(0xE8 + (r.Next() & 1)));
            for (int i = 0; i < 4; ++i) b.push_back(std::uint8_t(counter >> (8 * i)));
            b.push_back(std::uint8_t(r.Next() % 7));
            const std::uint32_t ptr = 0x401000 + (r.Next() % 4096) * 16;
            for (int i = 0; i < 4; ++i) b.push_back(std::uint8_t(ptr >> (8 * i)));
            if (r.Next() % 5 == 0) b.push_back(std::uint8_t(r.Next()));
            counter += 1 + r.Next() % 3;
        }
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
        b.insert(b.end(), std::min(len, n - b.size()), v);
    }
    return b;
}

Bytes RecordsLike(std::size_t n, std::uint32_t seed) {
    Rng r(seed);
    Bytes b;
    b.reserve(n + 1024);
    while (b.size() < n) {
        Append(b, "{\"id\": " + std::to_string(r.Next() % 1000000) + ", \"name\": \"" +
                      kWords[(r.Next() >> 8) % std::size(kWords)] + "\", \"state\": \"active\", \"key\": \"");
        for (std::uint32_t k = r.Next() % 4 == 0 ? 16 + r.Next() % 24 : 0; k != 0; --k) {
            b.push_back(std::uint8_t('a' + r.Next() % 26));
        }
        Append(b, "\"},\n");
        if (r.Next() % 40 == 0 && b.size() > 2000) {  // a long stretch seen before
            const std::size_t from = b.size() - 300 - r.Next() % 1500, length = 280 + r.Next() % 700;
            for (std::size_t i = 0; i < length; ++i) b.push_back(b[from + i]);
        }
    }
    b.resize(n);
    return b;
}

Bytes Repeat(const std::string& pattern, std::size_t n) {
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i) b[i] = std::uint8_t(pattern[i % pattern.size()]);
    return b;
}

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
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
    // Unique across the test processes ctest runs side by side, without a POSIX call.
    static std::atomic<int> counter{0};
    static const auto start = std::chrono::steady_clock::now().time_since_epoch().count();
    const auto dir = std::filesystem::temp_directory_path() /
                     ("orsk-test-" + std::to_string(start) + "-" + std::to_string(counter++));
    std::filesystem::create_directories(dir);
    return (dir / name).string();
}

Bytes Compress(Level level, const Bytes& input, ContainerKind kind) {
    BlockWorkspace ws;
    Bytes out;
    EXPECT_EQ(CompressBuffer(level, input.data(), input.size(), out, ws, nullptr, kind), Status::Ok);
    return out;
}

Status Decompress(LevelRequest level, const Bytes& container, Bytes& output) {
    auto copy = std::make_unique<std::uint8_t[]>(container.size());
    std::copy(container.begin(), container.end(), copy.get());
    return DecompressBuffer(level, copy.get(), container.size(), output, Workspace());
}

int SectionCount(Level level) { return LevelOf(level).sections; }

BlockWorkspace& Workspace() {
    static BlockWorkspace ws;
    EXPECT_EQ(ws.PrepareCompress(), Status::Ok);
    EXPECT_EQ(ws.PrepareDecompress(), Status::Ok);
    return ws;
}

StreamDecodeTables& DecodeTables() { return *Workspace().decodeBuffers().tables; }

BlockView ViewBlock(Level level, const Bytes& block) {
    BlockView v;
    if (block.size() < CompressedHeaderLength || block[0] != CompressedBlockKind) {
        ADD_FAILURE() << "not a compressed block";
        return v;
    }
    const std::uint8_t* h = block.data();
    const BlockHeader header = ReadBlockHeader(h, LevelOf(level).headerOrder);
    v.sequenceCount = header.sequenceCount;
    v.chunkLength = header.chunkLength;
    EXPECT_EQ(header.blockLength, block.size());
    const std::size_t at = CompressedHeaderLength + header.offsetLowLength;
    if (at > block.size()) {
        ADD_FAILURE() << "distance bytes run past the block";
        return v;
    }
    v.low.assign(h + CompressedHeaderLength, h + at);
    Bytes padded(block);
    padded.resize(block.size() + StreamReadSlack);
    BlockStreams bs;
    if (UnpackSections({padded.data() + at, padded.data() + block.size()}, SectionCount(level),
                       Workspace().decodeBuffers(), bs) != Status::Ok) {
        ADD_FAILURE() << "the sections do not unpack";
        return v;
    }
    for (std::size_t i = 0, section = at; i < std::size_t(SectionCount(level)); ++i) {
        v.streams[i].assign(bs.stream[i].at, bs.stream[i].end);
        v.kinds[i] = section < block.size() ? block[section] : 0;
        section += v.kinds[i] == SectionRaw ? 5 + LoadLE32(h + section + 1)
                   : v.kinds[i] == SectionCoded ? 9 + LoadLE32(h + section + 5)
                                                : 1;
    }
    return v;
}

Bytes BuildBlock(Level level, const BlockView& v) {
    Bytes block(CompressedHeaderLength);
    block.insert(block.end(), v.low.begin(), v.low.end());
    for (int i = 0; i < SectionCount(level); ++i) {
        const Bytes& s = v.streams[std::size_t(i)];
        block.push_back(s.empty() ? SectionEmpty : SectionRaw);
        if (s.empty()) continue;
        block.resize(block.size() + 4);
        StoreLE32(&block[block.size() - 4], std::uint32_t(s.size()));
        block.insert(block.end(), s.begin(), s.end());
    }
    WriteBlockHeader(block.data(), LevelOf(level).headerOrder,
                     {v.sequenceCount, v.chunkLength, std::uint32_t(v.low.size()), std::uint32_t(block.size())});
    return block;
}

Status CompressBlock(Level level, const Bytes& chunk, Bytes& block, std::size_t room, std::uint8_t slack) {
    BlockWorkspace& ws = Workspace();
    std::memcpy(ws.chunk(), chunk.data(), chunk.size());
    std::memset(ws.chunk() + chunk.size(), slack, InputSlack);
    // A sink flush with the end of its own allocation, so ASan sees a write past it.
    auto out = std::make_unique<std::uint8_t[]>(room);
    ByteSink sink{out.get(), out.get(), out.get() + room};
    const Status st = LevelOf(level).compress(ws.scratch(), ws.chunk(), chunk.size(), sink);
    if (st == Status::Ok) block.assign(out.get(), sink.at);
    return st;
}

Bytes CompressBlock(Level level, const Bytes& chunk, std::uint8_t slack) {
    Bytes block;
    EXPECT_EQ(CompressBlock(level, chunk, block, OutputBlockBufferSize, slack), Status::Ok);
    return block;
}

Status RestoreAt(Level level, const Bytes& block, Bytes& out) {
    constexpr std::uint8_t Canary = 0xA5;
    constexpr std::size_t CanaryLength = 64;
    auto in = std::make_unique<std::uint8_t[]>(block.size() + StreamReadSlack);
    std::memcpy(in.get(), block.data(), block.size());
    std::size_t claimed = MaxChunkLength;
    if (block.size() >= CompressedHeaderLength && block[0] == CompressedBlockKind) {
        claimed = std::min<std::size_t>(claimed, ReadBlockHeader(block.data(), LevelOf(level).headerOrder).chunkLength);
    }
    Bytes target(claimed + CopySlack + CanaryLength, Canary);
    RestoredBlock restored;
    const Status st = RestoreBlock(level, Workspace().codec, target.data(), in.get(), block.size(), restored);
    for (std::size_t i = claimed + CopySlack; i < target.size(); ++i) {
        if (target[i] != Canary) {
            ADD_FAILURE() << "the decoder wrote " << i - claimed << " bytes past the chunk";
            break;
        }
    }
    if (st == Status::Ok) out.assign(restored.data, restored.data + restored.length);
    return st;
}

}  // namespace orsk::test
