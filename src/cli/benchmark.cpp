// Built-in benchmark: compresses and restores a whole file in memory at each level,
// keeping the fastest of several runs of each stage, and checks every round trip.
#include "cli/benchmark.h"

#include <vector>

#include "container/drivers/memory.h"
#include "platform/platform.h"

namespace orsk::cli {

namespace {

bool ReadWholeFile(const std::string& name, std::vector<std::uint8_t>& data) {
    platform::InputFile in;
    std::string why;
    if (!in.Open(name, why)) return false;
    data.clear();
    constexpr std::size_t step = 1 << 20;
    for (;;) {
        const std::size_t old = data.size();
        data.resize(old + step);
        std::size_t got;
        if (!in.Read(data.data() + old, step, got)) return false;
        data.resize(old + got);
        if (got == 0) return true;
    }
}

double Seconds(std::int64_t start, std::int64_t end) { return double(end - start) / double(platform::CounterFrequency()); }

// Runs `stage` until both limits are met; the fastest run in seconds, or < 0 on failure.
template <typename Stage>
double Fastest(const BenchOptions& o, Stage&& stage) {
    double best = 1e300, spent = 0.0;
    for (int run = 0; run < o.minRuns || spent < o.minSeconds; ++run) {
        const std::int64_t t0 = platform::CounterNow();
        if (!stage()) return -1.0;
        const double s = Seconds(t0, platform::CounterNow());
        if (s < best) best = s;
        spent += s;
        if (run > 1000) break;
    }
    return best;
}

double MBps(std::size_t bytes, double seconds) { return seconds <= 0.0 ? 0.0 : double(bytes) / 1e6 / seconds; }

}  // namespace

bool ParseBenchLevels(const std::string& levels, BenchOptions& o) {
    auto digit = [](char c) { return c >= '0' && c <= '5'; };
    if (levels.empty()) return true;
    if (levels.size() == 1 && digit(levels[0])) {
        o.firstLevel = o.lastLevel = levels[0] - '0';
        return true;
    }
    if (levels.size() == 3 && digit(levels[0]) && levels[1] == '-' && digit(levels[2]) && levels[0] <= levels[2]) {
        o.firstLevel = levels[0] - '0';
        o.lastLevel = levels[2] - '0';
        return true;
    }
    return false;
}

int RunBenchmark(const std::vector<std::string>& files, const BenchOptions& o, std::FILE* out) {
    BlockWorkspace ws;
    std::vector<std::uint8_t> input, packed, restored;
    int code = 0;
    for (const std::string& name : files) {
        if (!ReadWholeFile(name, input)) {
            std::fprintf(stderr, "\n orsk: cannot read '%s'\n", name.c_str());
            code = 2;
            continue;
        }
        std::fprintf(out, "\n %s: %zu bytes (MB/s in MB of 1,000,000 bytes)\n", name.c_str(), input.size());
        std::fprintf(out, " %-12s %6s %10s %8s %12s %12s\n", "level", "effort", "size", "ratio", "comp MB/s",
                     "decomp MB/s");
        for (int l = o.firstLevel; l <= o.lastLevel; ++l) {
            for (const unsigned effort : o.efforts) {
                const Level level = Level(l);
                // A harder parse is slow enough to time once.
                BenchOptions once = o;
                if (effort != 0) once.minRuns = 1, once.minSeconds = 0.0;
                const double c = Fastest(once, [&] {
                    return CompressBuffer(level, input.data(), input.size(), packed, ws, nullptr, ContainerKind::Plain,
                                          effort) == Status::Ok;
                });
                const double d = Fastest(o, [&] {
                    return DecompressBuffer(level, packed.data(), packed.size(), restored, ws) == Status::Ok;
                });
                if (c < 0 || d < 0 || restored != input) {
                    std::fprintf(stderr, "\n orsk: level %d round trip failed on '%s'\n", l, name.c_str());
                    code = 2;
                    continue;
                }
                const double ratio = packed.empty() ? 0.0 : double(input.size()) / double(packed.size());
                std::fprintf(out, " %d %-10s %6u %10zu %8.3f %12.1f %12.1f\n", l, LevelName(level), effort,
                             packed.size(), ratio, MBps(input.size(), c), MBps(input.size(), d));
                std::fflush(out);
            }
        }
    }
    return code;
}

}  // namespace orsk::cli
