// Writes the seed corpora of the fuzz targets: small real containers of every level,
// coded stream bodies, and round-trip inputs. Usage: make_seeds DIR
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "container/drivers/memory.h"
#include "entropy/stream_coder.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

void Write(const std::filesystem::path& p, const Bytes& b) {
    std::filesystem::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
}

Bytes Sample(int kind, std::size_t n) {
    Bytes b(n);
    std::uint32_t s = 12345u + std::uint32_t(kind);
    const char* text = "the quick brown fox jumps over the lazy dog; compression of blocks and streams. ";
    for (std::size_t i = 0; i < n; ++i) {
        s ^= s << 13, s ^= s >> 17, s ^= s << 5;
        switch (kind) {
            case 0: b[i] = std::uint8_t(text[(i * 7 + (s % 3 == 0 ? s % 50 : 0)) % 80]); break;
            case 1: b[i] = std::uint8_t(i % 251 < 40 ? 0 : (i / 97) & 0xFF); break;
            case 2: b[i] = std::uint8_t(s % 16); break;
            default: b[i] = std::uint8_t(i < 4 ? "PE\0\0"[i] : (i % 5 == 0 ? 0xE8 : s & 0x0F)); break;
        }
    }
    return b;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) return 1;
    const std::filesystem::path dir(argv[1]);
    orsk::BlockWorkspace ws;
    int count = 0;
    for (int kind = 0; kind < 4; ++kind) {
        for (std::size_t n : {std::size_t(40), std::size_t(700), std::size_t(5000)}) {
            const Bytes input = Sample(kind, n);
            for (int level = 0; level < orsk::LevelCount; ++level) {
                Bytes packed;
                if (orsk::CompressBuffer(orsk::Level(level), input.data(), input.size(), packed, ws) != orsk::Status::Ok) return 1;
                const std::string name = "k" + std::to_string(kind) + "-" + std::to_string(n);
                Write(dir / ("decode_l" + std::to_string(level)) / name, packed);
                Bytes rt{std::uint8_t(level)};
                rt.insert(rt.end(), input.begin(), input.end());
                Write(dir / "roundtrip" / (name + "-l" + std::to_string(level)), rt);
                count += 2;
            }
            // A coded stream body, behind the three length bytes the stream target reads.
            const Bytes stream = Sample(kind, n < 2048 ? 2048 : n);
            Bytes body(orsk::CodedStreamFixedBytes + 256 + stream.size() * 2 + 64);
            orsk::ByteSink sink{body.data(), body.data(), body.data() + body.size()};
            if (orsk::EncodeStream(stream.data(), stream.size(), sink) != orsk::Status::Ok) return 1;
            const std::size_t len = stream.size() - 1;
            Bytes seed{std::uint8_t(len), std::uint8_t(len >> 8), std::uint8_t(len >> 16)};
            const std::uint8_t* bodyStart = body.data() + 8;
            const std::uint8_t* bodyEnd = sink.at;
            seed.insert(seed.end(), bodyStart, bodyEnd);
            Write(dir / "stream" / ("k" + std::to_string(kind) + "-" + std::to_string(n)), seed);
            ++count;
        }
    }
    return count > 0 ? 0 : 1;
}
