// Program entry: banner, argument scan, the compression and decompression runs with
// their reports, and the exit code (0 success, 1 usage, 2 failure, 3 salvaged with damage).
#include <cstdio>
#include <string>
#include <vector>

#include "cli/arguments.h"
#include "cli/benchmark.h"
#include "cli/listing.h"
#include "cli/main.h"
#include "cli/report.h"
#include "files/file_driver.h"
#include "orsk/orsk.h"
#include "platform/platform.h"

namespace {

using namespace orsk;

constexpr int ExitOk = 0;
constexpr int ExitUsage = 1;
constexpr int ExitFailure = 2;
constexpr int ExitDamaged = 3;  // --salvage wrote the output, with damaged blocks

int Failure(std::FILE* console, const std::string& message) {
    if (console != nullptr) std::fflush(console);
    std::fprintf(stderr, "\n orsk: %s\n", message.c_str());
    return ExitFailure;
}

// Where a run's messages go: standard error when the data goes to standard output, and
// nowhere with -q (errors always go to standard error).
std::FILE* ConsoleOf(const cli::Arguments& args) {
    if (args.quiet) return nullptr;
    return args.output == "-" ? stderr : stdout;
}

bool IsTerminal(std::FILE* console) {
    using platform::StandardStream;
    return console != nullptr &&
           platform::IsTerminal(console == stdout ? StandardStream::Output : StandardStream::Error);
}

// Prints the reason (if any) and the usage lines on standard error: exit code 1.
int Refuse(const std::string& reason) {
    std::fflush(stdout);
    if (!reason.empty()) std::fprintf(stderr, "\n orsk: %s\n", reason.c_str());
    cli::PrintUsage(stderr);
    return ExitUsage;
}

std::string Shown(const std::string& name, const char* dash) { return name == "-" ? dash : "'" + name + "'"; }
std::string Named(const std::string& name) { return name == "-" ? "standard input" : name; }

// What Ctrl-C or SIGTERM prints while a driver runs.
void ReportInterruptAs(const std::string& what, bool progressOnStdout) {
    platform::SetInterruptMessage(what.empty() ? what : "\n orsk: interrupted while " + what + "\n", progressOnStdout);
}

std::string ShownSize(const std::string& name) {
    return std::to_string(name == "-" ? 0 : platform::FileSizeOf(name));
}

int Run(const cli::Arguments& args) {
    std::FILE* console = ConsoleOf(args);
    const Level level = Level(args.level);
    // Progress lines overwrite each other on a terminal only.
    cli::Progress progress(console, IsTerminal(console));
    const bool liveOnStdout = progress.live() && console == stdout;
    const std::string input = Shown(args.input, "standard input"), output = Shown(args.output, "standard output");
    const std::int64_t frequency = platform::CounterFrequency();
    RunOptions options;
    options.threads = args.threads > 0 ? std::size_t(args.threads) : DefaultThreads();  // the drivers cap it
    options.container = args.check ? ContainerKind::Checked : ContainerKind::Plain;
    options.effort = args.efforts.empty() ? 0 : args.efforts.front();
    const LevelRequest request = args.levelFromContainer ? LevelFromContainer : LevelRequest(level);
    options.salvage = args.salvage;
    if (args.ranged) {
        options.rangeFrom = args.rangeStart;
        options.rangeTo = args.rangeLength > UINT64_MAX - args.rangeStart ? UINT64_MAX : args.rangeStart + args.rangeLength;
    }
    // e and d together: each block is restored and compared with its chunk as it is made.
    options.verify = args.compress && args.decompress;

    if (args.input != "-" && args.output != "-" && platform::SameFile(args.input, args.output)) {
        return Failure(console, "'" + args.input + "' and '" + args.output + "' are the same file");
    }

    if (args.compress) {
        if (console) {
            std::fprintf(console, "\n Compressing %s [ %s bytes]", args.input.c_str(), ShownSize(args.input).c_str());
        }
        const std::int64_t start = platform::CounterNow();
        if (console) cli::PrintCompressAnnouncement(console, level);
        ReportInterruptAs("compressing " + input + " into " + output, liveOnStdout);
        const FileRunResult r = CompressFile(level, args.input, args.output, options, [&](const CompressEvent& e) {
            progress.Show(cli::CompressProgressLine(level, e));
        });
        progress.Finish();
        ReportInterruptAs("", false);
        const std::int64_t total = platform::StageMicros(start, platform::CounterNow(), frequency);
        if (r.status != Status::Ok) return Failure(console, r.message);
        if (console) {
            cli::PrintCompressReport(console, r, total);
            // The stage times are summed per block: with blocks on several threads at
            // once they can pass the wall time.
            const bool threadsSummed = options.threads > 1 && r.totals.blocks > 1;
            cli::PrintSizes(console, Named(args.input), r.bytesIn, r.bytesOut, true, threadsSummed);
        }
    }

    if (args.compress && args.decompress) {
        if (console) {
            std::fprintf(console, "\n Verified: %s restores %s exactly\n", args.output.c_str(), args.input.c_str());
        }
    } else if (args.decompress) {
        const std::string& container = args.input;
        if (console) {
            std::fprintf(console, "\n Decompressing %s [ %s bytes]", container.c_str(), ShownSize(container).c_str());
        }
        const std::int64_t start = platform::CounterNow();
        // With -m alone the level is known once the container is read.
        if (request && console) cli::PrintDecompressAnnouncement(console, level);
        ReportInterruptAs("restoring " + input + " into " + output, liveOnStdout);
        // Levels 0 and 1 have their block lines, shown as compression's are; every other
        // restore shows where it is on a terminal, and nothing in a log.
        cli::RestoreProgress where(container == "-" ? 0 : platform::FileSizeOf(container));
        auto onBlock = [&](const DecompressEvent& e) {
            const std::string line = request ? cli::DecompressProgressLine(level, e) : std::string();
            if (!line.empty()) {
                progress.Show(line);
            } else if (progress.live()) {
                progress.Show(where.Line(e));
            }
        };
        const FileRunResult r = DecompressFile(request, args.input, args.output, options, onBlock);
        progress.Finish();
        ReportInterruptAs("", false);
        const std::int64_t total = platform::StageMicros(start, platform::CounterNow(), frequency);
        if (r.status != Status::Ok) {
            // The levels' own word for a block that does not restore, then the reason.
            if (r.blockFailed && r.restore.level && console) std::fputs(cli::BlockFailureWord(*r.restore.level), console);
            return Failure(console, r.message);
        }
        if (console) {
            if (!request) cli::PrintLevelFound(console, r.restore);
            cli::PrintDecompressReport(console, r.bytesOut, total);
            cli::PrintSizes(console, Named(container), r.bytesIn, r.bytesOut, false, false);
        }
        if (!r.damaged.empty()) {
            if (console) std::fflush(console);
            cli::PrintDamage(stderr, container, r);
            return ExitDamaged;
        }
    }
    if (console) std::fprintf(console, "\n Done!\n\n");
    return ExitOk;
}

}  // namespace

int orsk::cli::Main(const std::vector<std::string>& raw) {
    platform::RaisePriority();
    platform::InstallInterruptCleanup();
    const cli::Arguments args = cli::ScanArguments(raw);
    std::FILE* console = ConsoleOf(args);

    if (args.error.empty() && args.version) {
        std::printf("%s (library %s)\n", cli::VersionLine, orsk_version());
        return ExitOk;
    }
    if (args.error.empty() && args.help) {
        cli::PrintBanner(stdout);
        cli::PrintHelp(stdout);
        return ExitOk;
    }
    if (console) cli::PrintBanner(console);
    if (!args.error.empty()) return Refuse(args.error);
    if (args.bench) {
        cli::BenchOptions options;
        if (!cli::ParseBenchLevels(args.benchLevels, options) || args.benchFiles.empty()) {
            std::fprintf(stderr, "\n orsk: usage: orsk -b[level|first-last] FILE... (levels 0 to 5)\n");
            return ExitUsage;
        }
        if (!args.efforts.empty()) options.efforts = args.efforts;
        return cli::RunBenchmark(args.benchFiles, options, stdout);
    }
    if (args.list) {
        if (args.listFiles.empty()) return Refuse("-l needs the containers to list: orsk -l FILE...");
        return cli::ListContainers(args.listFiles, stdout);
    }
    if (raw.empty()) return Refuse("");
    if (!args.compress && !args.decompress) return Refuse("nothing to do: give e (compress) or d (restore) before -m");
    if (args.salvage && (args.compress || !args.decompress)) {
        return Refuse("--salvage restores a damaged container: give it with d alone");
    }
    if (args.ranged && (args.compress || !args.decompress || args.salvage)) {
        return Refuse("--range restores part of the data: give it with d alone, without --salvage");
    }
    if (!args.levelGiven) {
        return Refuse(args.compress ? "e needs a level and two names: -m<0..5> input output"
                                    : "d needs two names, the container and the output: d [-m<0..5>] container output");
    }
    if (!args.namesGiven) return Refuse("two names must follow -m: the input and the output");
    if (args.compress && args.levelFromContainer) {
        return Refuse("e needs a level: the valid levels are 0 to 5 (-m0 ... -m5); -m alone is for d");
    }
    if (args.check && !args.compress) return Refuse("--check goes with e: a restore tells a checked container by itself");
    if (!args.efforts.empty() && !args.compress) {
        return Refuse("--effort goes with e or -b: a restore needs no effort (d restores any effort's container)");
    }
    if (args.efforts.size() > 1) return Refuse("e takes one effort (--effort=N); lists are for -b");
    if (args.input == "-" && platform::IsTerminal(platform::StandardStream::Input)) {
        std::fprintf(stderr, "\n orsk: standard input is a terminal: name a file, or send the data through a pipe\n");
        return ExitUsage;
    }
    // A container or restored data would garble a terminal (and could drive it).
    if (args.output == "-" && platform::IsTerminal(platform::StandardStream::Output)) {
        std::fprintf(stderr, "\n orsk: standard output is a terminal: orsk writes no %s there; name a file, or send "
                             "it into a file or a pipe (> out, | command)\n",
                     args.compress ? "container" : "restored data");
        return ExitUsage;
    }
    const int code = Run(args);
    std::fflush(stdout);
    return code;
}
