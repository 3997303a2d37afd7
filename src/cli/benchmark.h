// The built-in benchmark: every chosen level in memory on a file, best of several runs,
// each round trip verified.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace orsk::cli {

struct BenchOptions {
    int firstLevel = 0;
    int lastLevel = 5;
    int minRuns = 3;          // at least this many runs of each stage
    double minSeconds = 1.0;  // and keep repeating until this much time was spent
    std::vector<unsigned> efforts{0};  // each level at each of these efforts (0: its own parse)
};

// Parses the level range after "-b": "" (all), "3", "2-4". False when malformed.
bool ParseBenchLevels(const std::string& levels, BenchOptions& options);
// Returns the exit code: 0, or 2 when a file cannot be read or a round trip fails.
int RunBenchmark(const std::vector<std::string>& files, const BenchOptions& options, std::FILE* out);

}  // namespace orsk::cli
