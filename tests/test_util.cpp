// Deterministic sample data and small file helpers for the tests.
#include "test_util.h"

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <unistd.h>

#include "container/memory.h"

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

}  // namespace orsk::test
