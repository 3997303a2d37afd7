// Writes the seed corpora of the fuzz targets: small real containers of every level,
// containers of several blocks (over 2 MiB restored) at every level, plain and checked,
// coded stream bodies, and round-trip inputs. Usage: make_seeds DIR
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <initializer_list>
#include <fstream>
#include <string>
#include <vector>

#include "container/drivers/memory.h"
#include "entropy/stream_coder.h"
#include "sample_data.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// Writes `head` then `body` to p.
void Write(const std::filesystem::path& p, const Bytes& head, const Bytes& body = {}) {
    std::filesystem::create_directories(p.parent_path());
    std::ofstream f(p, std::ios::binary);
    f.write(reinterpret_cast<const char*>(head.data()), std::streamsize(head.size()));
    f.write(reinterpret_cast<const char*>(body.data()), std::streamsize(body.size()));
}

// The container of `input`; the program fails when it cannot be written.
Bytes Pack(orsk::BlockWorkspace& ws, int level, const Bytes& input, orsk::ContainerKind kind) {
    Bytes packed;
    if (orsk::CompressBuffer(orsk::Level(level), input.data(), input.size(), packed, ws, nullptr, kind) != orsk::Status::Ok) {
        std::exit(1);
    }
    return packed;
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
            const std::string name = "k" + std::to_string(kind) + "-" + std::to_string(n);
            for (int level = 0; level < orsk::LevelCount; ++level) {
                const std::string l = std::to_string(level);
                const Bytes packed = Pack(ws, level, input, orsk::ContainerKind::Plain);
                Write(dir / ("decode_l" + l) / name, packed);
                // The container target reads the salvage level and the piece sizes first.
                const Bytes head{std::uint8_t(level | kind << 3), std::uint8_t(n)};
                Write(dir / "container" / (name + "-plain-l" + l), head, packed);
                Write(dir / "container" / (name + "-checked-l" + l), head,
                      Pack(ws, level, input, orsk::ContainerKind::Checked));
                // The range target reads the level and three ranges first.
                const Bytes ranges{std::uint8_t(kind == 3 ? 6 : level), 0, 1, std::uint8_t(n), 3, 255, 0};
                Write(dir / "range" / (name + "-plain-l" + l), ranges, packed);
                Write(dir / "roundtrip" / (name + "-l" + l), {std::uint8_t(level)}, input);
                count += 4;
            }
            // A coded stream body, behind the three length bytes the stream target reads.
            const Bytes stream = Sample(kind, n < 2048 ? 2048 : n);
            Bytes body(orsk::CodedStreamFixedBytes + 256 + stream.size() * 2 + 64);
            orsk::ByteSink sink{body.data(), body.data(), body.data() + body.size()};
            if (orsk::EncodeStream(stream.data(), stream.size(), sink) != orsk::Status::Ok) return 1;
            const std::size_t len = stream.size() - 1;
            Write(dir / "stream" / name, {std::uint8_t(len), std::uint8_t(len >> 8), std::uint8_t(len >> 16)},
                  Bytes(body.data() + 8, sink.at));  // the body behind N and S
            ++count;
        }
    }
    // Containers of several blocks: text, an executable-like part, then a part of runs
    // (three blocks, 2.1 MiB), and at FAST and BETTER a chunk of literals only, whose
    // block does not tell the level alone, then far copies; plain and checked. The
    // decoders and the container target read them; the round trip compresses them.
    Bytes blocks = Sample(0, 1 << 20);
    for (const Bytes& part : {Sample(3, 500000), Sample(1, 600000)}) blocks.insert(blocks.end(), part.begin(), part.end());
    const Bytes lead = orsk::test::LiteralLeadThenFarCopies(100000, 1);
    const Bytes* const inputs[] = {&blocks, &lead};
    for (int level = 0; level < orsk::LevelCount; ++level) {
        for (const int checked : {0, 1}) {
            const auto kind = checked ? orsk::ContainerKind::Checked : orsk::ContainerKind::Plain;
            for (const Bytes* input : inputs) {
                if (input == &lead && level != 2 && level != 4) continue;
                const std::string name = std::string(input == &lead ? "lead-" : "blocks-") +
                                         (checked ? "checked-l" : "plain-l") + std::to_string(level);
                const Bytes packed = Pack(ws, level, *input, kind);
                for (int l = 0; l < orsk::LevelCount; ++l) Write(dir / ("decode_l" + std::to_string(l)) / name, packed);
                Write(dir / "container" / name, {std::uint8_t(level | (level + 3 * checked) % 8 << 3), std::uint8_t(level * 37)},
                      packed);
                Write(dir / "roundtrip" / name, {std::uint8_t(level | checked << 6)}, *input);
                Write(dir / "range" / name, {std::uint8_t(checked ? level : 6), 128, 255, 120, 2, 254, 9}, packed);
                count += 9;
            }
        }
    }
    return count > 0 ? 0 : 1;
}
