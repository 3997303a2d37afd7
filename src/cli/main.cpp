// Program entry: banner, argument scan, the compression and decompression runs with
// their reports, and the exit code (0 success, 1 usage, 2 failure).
#include <cstdio>
#include <string>
#include <vector>

#include "cli/arguments.h"
#include "cli/benchmark.h"
#include "cli/main.h"
#include "cli/report.h"
#include "container/drivers/file_driver.h"
#include "platform/platform.h"

namespace {

using namespace orsk;

constexpr int ExitOk = 0;
constexpr int ExitUsage = 1;
constexpr int ExitFailure = 2;

int Failure(std::FILE* console, const std::string& message) {
    std::fflush(console);
    std::fprintf(stderr, "\n orsk: %s\n", message.c_str());
    return ExitFailure;
}

std::string ShownSize(const std::string& name) {
    return std::to_string(name == "-" ? 0 : platform::FileSizeOf(name));
}

int Run(const cli::Arguments& args) {
    // With the data on standard output, every message goes to standard error.
    std::FILE* console = args.output == "-" ? stderr : stdout;
    const Level level = Level(args.level);
    cli::Progress progress(console, console == stdout ? platform::StdoutIsTerminal() : true);
    const std::int64_t frequency = platform::CounterFrequency();
    RunOptions options;
    options.threads = args.threads > 0 ? std::size_t(args.threads) : DefaultThreads();

    if (args.input != "-" && args.output != "-" && platform::SameFile(args.input, args.output)) {
        return Failure(console, "'" + args.input + "' and '" + args.output + "' are the same file");
    }

    if (args.compress) {
        std::fprintf(console, "\n Compressing %s [ %s bytes]", args.input.c_str(), ShownSize(args.input).c_str());
        const std::int64_t start = platform::CounterNow();
        cli::PrintCompressAnnouncement(console, level);
        const FileRunResult r = CompressFile(level, args.input, args.output, options, [&](const CompressEvent& e) {
            progress.Show(cli::CompressProgressLine(level, e));
        });
        progress.Finish();
        const std::int64_t total = platform::StageMicros(start, platform::CounterNow(), frequency);
        if (r.status != Status::Ok) return Failure(console, r.message);
        cli::PrintCompressReport(console, r, total);
    }

    if (args.decompress) {
        // After a compression run, restore the fresh container and compare it with the
        // original instead of overwriting anything.
        const std::string& container = args.compress ? args.output : args.input;
        std::fprintf(console, "\n Decompressing %s [ %s bytes]", container.c_str(), ShownSize(container).c_str());
        const std::int64_t start = platform::CounterNow();
        cli::PrintDecompressAnnouncement(console, level);
        auto onBlock = [&](const DecompressEvent& e) {
            const std::string line = cli::DecompressProgressLine(level, e);
            if (!line.empty()) progress.Show(line);
        };
        const FileRunResult r = args.compress ? VerifyContainer(level, container, args.input, options, onBlock)
                                              : DecompressFile(level, args.input, args.output, options, onBlock);
        progress.Finish();
        const std::int64_t total = platform::StageMicros(start, platform::CounterNow(), frequency);
        if (r.status != Status::Ok) {
            // The levels' own word for a block that does not restore, then the reason.
            if (r.blockFailed) std::fputs(LevelOf(level).blockFailure, console);
            return Failure(console, r.message);
        }
        cli::PrintDecompressReport(console, r.bytesOut, total);
        if (args.compress) {
            std::fprintf(console, "\n Verified: %s restores %s exactly\n", container.c_str(), args.input.c_str());
        }
    }
    std::fprintf(console, "\n Done!\n\n");
    return ExitOk;
}

}  // namespace

int orsk::cli::Main(const std::vector<std::string>& raw) {
    platform::RaisePriority();
    platform::InstallInterruptCleanup();
    const cli::Arguments args = cli::ScanArguments(raw);
    std::FILE* console = args.output == "-" ? stderr : stdout;

    if (args.version) {
        std::printf("%s\n", cli::VersionLine);
        return ExitOk;
    }
    if (args.help) {
        cli::PrintBanner(stdout);
        cli::PrintHelp(stdout);
        return ExitOk;
    }
    cli::PrintBanner(console);
    if (args.bench) {
        cli::BenchOptions options;
        if (!cli::ParseBenchLevels(args.benchLevels, options) || args.benchFiles.empty()) {
            std::fprintf(stderr, "\n orsk: usage: orsk -b[level|first-last] FILE... (levels 0 to 5)\n");
            return ExitUsage;
        }
        return cli::RunBenchmark(args.benchFiles, options, stdout);
    }
    if (raw.empty()) {
        cli::PrintUsage(console);
        return ExitUsage;
    }
    if (!args.compress && !args.decompress) {
        std::fprintf(console, "\n Done!\n\n");
        return ExitOk;
    }
    if (!args.levelGiven || !args.namesGiven || args.threads < 0) {
        cli::PrintUsage(console);
        return ExitUsage;
    }
    if (args.level >= LevelCount) {
        std::fprintf(stderr, "\n orsk: invalid level in -m%s: the valid levels are 0 to 5 (-m0 ... -m5)\n",
                     args.level + '0' >= 32 && args.level + '0' < 127 ? std::string(1, char(args.level + '0')).c_str() : "?");
        return ExitUsage;
    }
    const int code = Run(args);
    std::fflush(stdout);
    return code;
}
