// Writes the seed corpora of the fuzz targets: small real containers of every level,
// containers of several blocks (over 2 MiB restored) at every level, plain and checked,
// coded stream bodies, and round-trip inputs. Usage: make_seeds DIR
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <initializer_list>
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

// A de Bruijn sequence of `letters` letters from 'a' and order 4: no group of four
// letters twice.
Bytes NoRepeats(std::size_t n, std::size_t letters) {
    Bytes s;
    std::vector<std::size_t> w{std::size_t(0) - 1};
    while (!w.empty() && s.size() < n) {
        ++w.back();
        const std::size_t m = w.size();
        if (4 % m == 0) {
            for (std::size_t x : w) s.push_back(std::uint8_t('a' + x));
        }
        while (w.size() < 4) w.push_back(w[w.size() - m]);
        while (!w.empty() && w.back() == letters - 1) w.pop_back();
    }
    s.resize(n);
    return s;
}

// A chunk of literals only, whose block restores alike at FAST and BETTER, then 100,000
// letters with 64-byte copies from far back, whose block does not: the level of its
// plain container is not told by the first block alone.
Bytes LiteralLeadThenFarCopies() {
    Bytes b = NoRepeats(1 << 20, 32);
    Bytes tail = NoRepeats(100000, 26);
    std::uint32_t s = 7;
    for (std::size_t at = 65536; at + 64 <= tail.size(); at += 100 + s % 300) {
        s ^= s << 13, s ^= s >> 17, s ^= s << 5;
        const std::size_t distance = 300 + s % 59701;
        std::memmove(&tail[at], &tail[at - distance], 64);
    }
    b.insert(b.end(), tail.begin(), tail.end());
    return b;
}

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
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
                Bytes checked;
                if (orsk::CompressBuffer(orsk::Level(level), input.data(), input.size(), checked, ws, nullptr,
                                         orsk::ContainerKind::Checked) != orsk::Status::Ok) {
                    return 1;
                }
                for (const Bytes* c : {&packed, &checked}) {
                    Bytes framed{std::uint8_t(level | kind << 3), std::uint8_t(n)};
                    framed.insert(framed.end(), c->begin(), c->end());
                    Write(dir / "container" / (name + (c == &packed ? "-plain-l" : "-checked-l") + std::to_string(level)),
                          framed);
                }
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
    // Containers of several blocks: text, an executable-like part, then a part of runs
    // (three blocks, 2.1 MiB), and the literal lead at FAST and BETTER, plain and checked.
    // The decoders and the container target read them; the round trip compresses them.
    const Bytes blocks = Cat({Sample(0, 1 << 20), Sample(3, 500000), Sample(1, 600000)});
    const Bytes lead = LiteralLeadThenFarCopies();
    for (int level = 0; level < orsk::LevelCount; ++level) {
        for (const auto kind : {orsk::ContainerKind::Plain, orsk::ContainerKind::Checked}) {
            const bool checked = kind == orsk::ContainerKind::Checked;
            const std::string suffix = std::string(checked ? "checked" : "plain") + "-l" + std::to_string(level);
            for (const Bytes* input : {&blocks, &lead}) {
                if (input == &lead && level != 2 && level != 4) continue;
                const std::string name = (input == &lead ? "lead-" : "blocks-") + suffix;
                Bytes packed;
                if (orsk::CompressBuffer(orsk::Level(level), input->data(), input->size(), packed, ws, nullptr, kind) !=
                    orsk::Status::Ok) {
                    return 1;
                }
                for (int l = 0; l < orsk::LevelCount; ++l) Write(dir / ("decode_l" + std::to_string(l)) / name, packed);
                // The salvage level and the piece sizes ahead of the container.
                Bytes framed{std::uint8_t(level | (level + (checked ? 3 : 0)) % 8 << 3), std::uint8_t(level * 37)};
                framed.insert(framed.end(), packed.begin(), packed.end());
                Write(dir / "container" / name, framed);
                Bytes rt{std::uint8_t(level | (checked ? 0x40 : 0))};
                rt.insert(rt.end(), input->begin(), input->end());
                Write(dir / "roundtrip" / name, rt);
                count += 8;
            }
        }
    }
    return count > 0 ? 0 : 1;
}
