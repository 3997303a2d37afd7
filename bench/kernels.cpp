// Google Benchmark of the hot kernels: the entropy estimate, the stream coder, and
// each level's block compressor and decoder on one 1 MiB chunk of text-like data
// (or a file named by ORSK_BENCH_FILE).
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <vector>

#include "container/blocks/entropy_estimate.h"
#include "container/format/block.h"
#include "entropy/stream_coder.h"

namespace {

using namespace orsk;
using Bytes = std::vector<std::uint8_t>;

// One chunk of sample data: the first MiB of ORSK_BENCH_FILE, or generated text.
const Bytes& Chunk() {
    static const Bytes chunk = [] {
        Bytes b;
        if (const char* name = std::getenv("ORSK_BENCH_FILE")) {
            std::ifstream f(name, std::ios::binary);
            b.assign(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
        }
        if (b.empty()) {
            const char* words[] = {"the ", "of ", "compression ", "block ", "and ", "stream ", "a ", "window ",
                                   "literal ", "to ", "in ", "sequence ", "entropy ", "is ", "Huffman "};
            std::uint32_t s = 1;
            while (b.size() < MaxChunkLength) {
                s = s * 1103515245u + 12345u;
                for (const char* p = words[(s >> 16) % 15]; *p != 0; ++p) b.push_back(std::uint8_t(*p));
            }
        }
        b.resize(std::min<std::size_t>(b.size(), MaxChunkLength));
        return b;
    }();
    return chunk;
}

void EntropyEstimateKernel(benchmark::State& state) {
    const Bytes& c = Chunk();
    for (auto _ : state) benchmark::DoNotOptimize(EntropyEstimate(c.data(), c.size()));
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(c.size()));
}
BENCHMARK(EntropyEstimateKernel);

void EncodeStreamKernel(benchmark::State& state) {
    const Bytes& c = Chunk();
    Bytes out(CodedStreamSize(c.data(), c.size()) + 64);
    for (auto _ : state) {
        ByteSink sink{out.data(), out.data(), out.data() + out.size()};
        benchmark::DoNotOptimize(EncodeStream(c.data(), c.size(), sink));
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(c.size()));
}
BENCHMARK(EncodeStreamKernel);

void DecodeStreamKernel(benchmark::State& state) {
    const Bytes& c = Chunk();
    Bytes body(CodedStreamSize(c.data(), c.size()) + 64);
    ByteSink sink{body.data(), body.data(), body.data() + body.size()};
    if (EncodeStream(c.data(), c.size(), sink) != Status::Ok) state.SkipWithError("encode failed");
    Bytes out(c.size() + SectionSlack);
    const std::size_t bodyLength = Written(sink) - 8;
    const StreamDecodeTablesPtr tables = NewStreamDecodeTables();
    for (auto _ : state) {
        benchmark::DoNotOptimize(DecodeStream(body.data() + 8, bodyLength, out.data(), c.size(), *tables));
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(c.size()));
}
BENCHMARK(DecodeStreamKernel);

void CompressBlockKernel(benchmark::State& state) {
    const Level level = Level(state.range(0));
    const Bytes& c = Chunk();
    BlockWorkspace ws;
    if (ws.PrepareCompress() != Status::Ok) state.SkipWithError("no memory");
    for (auto _ : state) {
        std::copy(c.begin(), c.end(), ws.chunk());  // NORMAL filters in place
        ChunkOutcome o;
        benchmark::DoNotOptimize(CompressChunk(level, ws, c.size(), o));
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(c.size()));
}
BENCHMARK(CompressBlockKernel)->DenseRange(0, 5)->Unit(benchmark::kMillisecond);

void DecodeBlockKernel(benchmark::State& state) {
    const Level level = Level(state.range(0));
    const Bytes& c = Chunk();
    BlockWorkspace ws;
    if (ws.PrepareCompress() != Status::Ok || ws.PrepareDecompress() != Status::Ok) state.SkipWithError("no memory");
    std::copy(c.begin(), c.end(), ws.chunk());
    ChunkOutcome o;
    if (CompressChunk(level, ws, c.size(), o) != Status::Ok) state.SkipWithError("compress failed");
    Bytes block(ws.block(), ws.block() + o.blockLength);
    block.resize(block.size() + StreamReadSlack);
    for (auto _ : state) {
        RestoredBlock r;
        benchmark::DoNotOptimize(RestoreBlock(level, ws, block.data(), o.blockLength, r));
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(c.size()));
}
BENCHMARK(DecodeBlockKernel)->DenseRange(0, 5)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
