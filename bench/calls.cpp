// Cost of one call of the C interface on a small (4 KiB) and a chunk-sized (1 MiB)
// input at every level: one-shot calls against calls through a reused context.
// Usage: orsk_call_bench [ROUNDS]   (default 5; each figure is the best round's mean)
// Times are the process's processor time (user and system, page faults included), which
// other work on a shared machine disturbs less than the time on the clock.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

#include "orsk/orsk.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// Text-like bytes: words drawn from a short list, the same on every run.
Bytes Sample(std::size_t n) {
    const char* words[] = {"the ", "of ", "compression ", "block ", "and ", "stream ", "a ", "window ",
                           "literal ", "to ", "in ", "sequence ", "entropy ", "is ", "Huffman ", "0x1F, "};
    Bytes b;
    std::uint32_t s = 7;
    while (b.size() < n) {
        s = s * 1103515245u + 12345u;
        for (const char* p = words[(s >> 16) % 16]; *p != 0; ++p) b.push_back(std::uint8_t(*p));
    }
    b.resize(n);
    return b;
}

// Mean nanoseconds per call of `call` over at least 0.1 s and 3 calls; the best of
// `rounds` such means (other work on the machine only ever adds time).
template <typename Call>
double NanosPerCall(int rounds, Call&& call) {
    double best = 1e300;
    for (int r = 0; r < rounds; ++r) {
        std::size_t calls = 0;
        const std::clock_t start = std::clock();
        double seconds = 0;
        do {
            if (call() != ORSK_OK) {
                std::fprintf(stderr, "a call failed\n");
                std::exit(2);
            }
            ++calls;
            seconds = double(std::clock() - start) / CLOCKS_PER_SEC;
        } while (calls < 3 || seconds < 0.1);
        best = std::min(best, seconds * 1e9 / double(calls));
    }
    return best;
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    orsk_context* ctx = orsk_context_create();
    if (ctx == nullptr) return 2;
    std::printf("%-6s %5s %14s %14s %14s %14s\n", "size", "level", "compress", "ctx compress", "decompress",
                "ctx decompress");
    for (std::size_t n : {std::size_t(4096), std::size_t(1) << 20}) {
        const Bytes input = Sample(n);
        Bytes container(std::size_t(orsk_compress_bound(n))), restored(n);
        for (int level = ORSK_MIN_LEVEL; level <= ORSK_MAX_LEVEL; ++level) {
            std::size_t size = 0, got = 0;
            const auto compress = [&] {
                return orsk_compress(level, input.data(), n, container.data(), container.size(), &size);
            };
            const auto compressCtx = [&] {
                return orsk_compress_ctx(ctx, level, 0, input.data(), n, container.data(), container.size(), &size);
            };
            const double c = NanosPerCall(rounds, compress), cc = NanosPerCall(rounds, compressCtx);
            const auto decompress = [&] {
                return orsk_decompress(level, container.data(), size, restored.data(), restored.size(), &got);
            };
            const auto decompressCtx = [&] {
                return orsk_decompress_ctx(ctx, level, container.data(), size, restored.data(), restored.size(), &got);
            };
            const double d = NanosPerCall(rounds, decompress), dc = NanosPerCall(rounds, decompressCtx);
            if (got != n || !std::equal(input.begin(), input.end(), restored.begin())) return 2;
            std::printf("%-6s %5d %11.0f ns %11.0f ns %11.0f ns %11.0f ns\n", n == 4096 ? "4 KiB" : "1 MiB", level, c,
                        cc, d, dc);
        }
    }
    orsk_context_free(ctx);
    return 0;
}
