// Console text in the tool's fixed formats.
#include "cli/report.h"

#include <algorithm>
#include <bit>

#include "container/reader/level_probe.h"

namespace orsk::cli {

const char* const VersionLine = "ORSK v2.9207";

namespace {

constexpr double BytesPerMB = 1048576.0;

long long Millis(std::int64_t micros) { return static_cast<long long>(std::uint64_t(micros) / 1000); }
long long MicrosPart(std::int64_t micros) { return static_cast<long long>(std::uint64_t(micros) % 1000); }

}  // namespace

void PrintBanner(std::FILE* out) {
    const std::string banner = std::string(VersionLine) +
                               "\n orsk block compressor and benchmark, by the orsk developers"
                               "\n questions and bug reports: see the README of the project";
    std::fprintf(out, "\n %s \n", banner.c_str());
}

void PrintUsage(std::FILE* out) {
    std::fprintf(out, "\n\n USAGE: ORSK <options> file_in");
    std::fprintf(out, "\n\t Options: e/d -m0..5: use compression method \n\t 0..5 | 0=HYPERFAST, 1=SUPERFAST, "
                      "2=FAST, 3=NORMAL 4=BETTER 5=BEST\n");
    // The lines above name one file; every run takes two.
    std::fprintf(out, "\n In full: orsk [options] e|d|e d -m<0..5> input output"
                      "\n          orsk [options] d [-m] container output   (at the container's own level)"
                      "\n          orsk -l FILE...  |  orsk -b[N|N-M] FILE...  |  orsk -h (every option)\n");
}

void PrintHelp(std::FILE* out) {
    PrintUsage(out);
    std::fprintf(out,
                 "\n   orsk e -m<0..5> in out     compress in into the container out"
                 "\n   orsk d -m<0..5> in out     restore the container in (written at that level) into out"
                 "\n   orsk d -m in out           restore at the level a checked container records, or"
                 "\n                              the one a plain container's compressed blocks show"
                 "\n   orsk d in out              the same as d -m"
                 "\n   orsk e d -m<0..5> in out   compress, restoring each block as it is made and comparing"
                 "\n                              it with in (through files and pipes alike)"
                 "\n   orsk -l FILE...            list each container: plain or checked, level, blocks,"
                 "\n                              sizes and ratio"
                 "\n   -  as a name               standard input or output; neither may be a terminal"
                 "\n   Options go before -m; exactly two names follow it (or d, with no -m)."
                 "\n   --check                    with e: write a checked container (records the level,"
                 "\n                              a checksum per block and of the whole; damage fails)"
                 "\n   --effort=N                 with e: search harder, N from 1 to 9 (levels 0, 1 and 5):"
                 "\n                              smaller containers of the same format, restored as fast;"
                 "\n                              with -b a list, --effort=0,5,9 (0: the level's own parse)"
                 "\n   --salvage                  with d: restore every block that restores, zeros of its length"
                 "\n                              for every other, listed on standard error (exit code 3)"
                 "\n   --range=START:LENGTH       with d: write only LENGTH bytes of the data from byte START"
                 "\n                              (decimal; as far as the data goes), restoring only the blocks"
                 "\n                              that hold them; a START past the end fails (exit 2)"
                 "\n   -t<n>                      worker threads, 1 or more (default: every core; capped at"
                 "\n                              4 per core; -t1 runs on one thread)"
                 "\n   -q, --quiet                print nothing but errors and the --salvage report"
                 "\n                              (-l and -b still print their results)"
                 "\n   -b[N|N-M] FILE...          benchmark levels (all, N, or N to M) in memory on each FILE"
                 "\n                              (speeds in MB/s of 1,000,000 bytes, best of several runs)"
                 "\n   -h, --help                 this text"
                 "\n   -V, --version              the version line"
                 "\n\n   A run reports its stage times and MB/s (MB of 1,048,576 bytes; with threads,"
                 "\n   Entropy and ORSK add up every thread's time), then the sizes in and out."
                 "\n   The output keeps the input's permission bits and modification time."
                 "\n   A restore at the wrong level names the level the container restores at."
                 "\n\n   Exit codes: 0 success; 1 usage (no e or d, an unknown option, a level that is"
                 "\n   not one digit 0 to 5 (-m7, -m12, -mx), e with -m alone or with no -m (d takes"
                 "\n   either), --check without e, --effort not 0 to 9 or without e or -b, --salvage or"
                 "\n   --range without d or with e, --range with --salvage or malformed, a bad thread"
                 "\n   count, not exactly two names, standard input or output a terminal); 2 failure"
                 "\n   (file, data, a level that cannot be told, verification, a file -l cannot list,"
                 "\n   a --range START past the end); 3"
                 "\n   restored with damaged blocks (--salvage); 130 or 143 interrupted (Ctrl-C, SIGTERM).\n");
}

double Speed(std::uint64_t bytes, std::int64_t micros) {
    if (micros <= 0) return 0.0;
    return (double(bytes) / BytesPerMB) / (double(micros) / 1e6);
}

void Progress::Show(const std::string& line) {
    if (live_) {
        std::fputs(line.c_str(), out_);
        std::fflush(out_);
    } else {
        last_ = line;
    }
}

void Progress::Finish() {
    if (out_ != nullptr && !live_ && !last_.empty()) std::fputs(last_.c_str(), out_);
    last_.clear();
}

namespace {

// The console's words for each level: its name in the compression announcement, whether
// its progress lines carry block numbers, and what is printed before the reason when a
// block does not restore.
struct LevelWords {
    const char* compressing;
    bool blockProgress;
    const char* blockFailure;
};
constexpr LevelWords Words[LevelCount] = {
    {.compressing = "HYPER_FAST", .blockProgress = true, .blockFailure = "\n ERROR"},
    {.compressing = "SUPER_FAST", .blockProgress = true, .blockFailure = "\n ERROR"},
    {.compressing = "FAST", .blockProgress = false, .blockFailure = "\n ERROR"},
    {.compressing = "NORMAL", .blockProgress = false, .blockFailure = "\n LZ Error "},
    {.compressing = "BETTER", .blockProgress = false, .blockFailure = "\n ERROR"},
    {.compressing = "BEST", .blockProgress = false, .blockFailure = "\n ERROR"},
};
const LevelWords& WordsOf(Level level) { return Words[unsigned(level)]; }

}  // namespace

const char* BlockFailureWord(Level level) { return WordsOf(level).blockFailure; }

std::string CompressProgressLine(Level level, const CompressEvent& e) {
    char line[160];
    const char* label = e.outcome.stored ? "Storing   " : "Compressing";
    const std::uint64_t size = e.inputSize >= e.done ? e.inputSize : e.done;
    const double percent = size == 0 ? 100.0 : double(e.done) * 100.0 / double(size);
    if (WordsOf(level).blockProgress) {
        std::snprintf(line, sizeof line, "\r %s %02.02f%% | Entropy = %1.03f | Block: %llu | %7zu -> %7zu", label, percent,
                      e.outcome.entropy, static_cast<unsigned long long>(e.index), e.chunkLength, e.outcome.blockLength);
    } else {
        std::snprintf(line, sizeof line, "\r %s %02.02f%% | Entropy = %1.03f", label, percent, e.outcome.entropy);
    }
    return line;
}

std::string DecompressProgressLine(Level level, const DecompressEvent& e) {
    if (!WordsOf(level).blockProgress) return {};
    char line[128];
    const auto index = static_cast<unsigned long long>(e.index);
    if (e.block.stored) {
        std::snprintf(line, sizeof line, "\r Unstoring block %llu %7zu to %7zu", index, e.block.length, e.block.length);
    } else {
        std::snprintf(line, sizeof line, "\r Decompressing block %llu %7u to %7zu", index, e.block.blockLength,
                      e.block.length);
    }
    return line;
}

std::string RestoreProgress::Line(const DecompressEvent& e) {
    // A stored block's recorded length is its chunk's; its header adds 9 bytes. A checked
    // container's per-block checks are left out: at most 8 bytes a block.
    read_ += e.block.stored ? e.block.length + 9 : e.block.blockLength;
    restored_ += e.block.length;
    char line[128];
    const auto index = static_cast<unsigned long long>(e.index);
    if (containerSize_ == 0) {
        std::snprintf(line, sizeof line, "\r Restoring | Block: %llu | %s bytes", index, Grouped(restored_).c_str());
    } else {
        const double percent = std::min(100.0, double(read_) * 100.0 / double(containerSize_));
        std::snprintf(line, sizeof line, "\r Restoring %3.0f%% | Block: %llu | %s bytes", percent, index,
                      Grouped(restored_).c_str());
    }
    return line;
}

std::string Grouped(std::uint64_t n) {
    std::string digits = std::to_string(n), grouped;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i != 0 && (digits.size() - i) % 3 == 0) grouped += ',';
        grouped += digits[i];
    }
    return grouped;
}

void PrintCompressAnnouncement(std::FILE* out, Level level) {
    std::fprintf(out, "\n Using %s_COMPRESSION level\n", WordsOf(level).compressing);
}

void PrintDecompressAnnouncement(std::FILE* out, Level level) {
    std::fprintf(out, "\n Using %s level\n", LevelName(level));
}

void PrintCompressReport(std::FILE* out, const FileRunResult& r, std::int64_t totalMicros) {
    const std::int64_t e = r.totals.entropyMicros;
    const std::int64_t lz = r.totals.lzMicros;
    std::fprintf(out, "\n\n Entropy: ~%2lld.%03lldms - %4.02f MB/s", Millis(e), MicrosPart(e), Speed(r.bytesIn, e));
    std::fprintf(out, "\n ORSK   : ~%2lld.%03lldms - %4.02f MB/s", Millis(lz), MicrosPart(lz), Speed(r.bytesIn, lz));
    std::fprintf(out, "\n ------------------------------");
    std::fprintf(out, "\n Total  : ~%2lld.%03lldms\n", Millis(totalMicros), MicrosPart(totalMicros));
}

void PrintDecompressReport(std::FILE* out, std::uint64_t restoredBytes, std::int64_t totalMicros) {
    std::fprintf(out, "\n Total: ~%2lld.%03lldms - %4.02f MB/s\n", Millis(totalMicros), MicrosPart(totalMicros),
                 Speed(restoredBytes, totalMicros));
}

void PrintSizes(std::FILE* out, const std::string& name, std::uint64_t from, std::uint64_t to, bool compressing,
                bool threadsSummed) {
    std::fprintf(out, " %s: %s -> %s bytes", name.c_str(), Grouped(from).c_str(), Grouped(to).c_str());
    // The container's size as a share of the data's, either way.
    const std::uint64_t data = compressing ? from : to, container = compressing ? to : from;
    if (data != 0) std::fprintf(out, " (%.2f%%)", double(container) * 100.0 / double(data));
    std::fprintf(out, "\n MB/s above: MB of 1,048,576 bytes%s\n",
                 threadsSummed ? "; Entropy and ORSK add up every thread's time, Total is wall time" : "");
}

std::string LevelFound(const RestoreFacts& facts) {
    // A listing tries only the first compressed block: several levels that restore it
    // alike tell none of them.
    if (!facts.level && facts.levelDetected && std::popcount(facts.candidates) > 1) {
        return "level not told (levels " + LevelList(facts.candidates, "", " and ") + " restore the first block alike)";
    }
    if (!facts.level) return "level unknown";
    if (facts.levelDetected && facts.candidates == AllLevels) return "any level";
    const std::string name = "level " + std::to_string(int(*facts.level)) + " " + LevelName(*facts.level);
    if (!facts.levelDetected) return name;
    if (std::popcount(facts.candidates) == 1) return name + " (detected)";
    return name + " (detected; levels " + LevelList(facts.candidates, "", " and ") + " restore it alike)";
}

void PrintLevelFound(std::FILE* out, const RestoreFacts& facts) {
    const bool recorded = facts.kind == ContainerKind::Checked;
    std::fprintf(out, "\n Using %s%s\n", LevelFound(facts).c_str(), recorded ? " (recorded)" : "");
}

void PrintDamage(std::FILE* out, const std::string& container, const FileRunResult& r) {
    std::fprintf(out, "\n orsk: '%s' is damaged; every block that restores is written at its offset, except:\n",
                 container.c_str());
    for (const DamagedRange& d : r.damaged) {
        const char* why = d.why == DamageKind::ChecksumMismatch ? "checksum mismatch"
                          : d.why == DamageKind::CutShort       ? "cut short"
                          : d.why == DamageKind::EndRecord      ? "blocks missing or out of place"
                                                                : "damaged";
        const auto block = static_cast<unsigned long long>(d.block), from = static_cast<unsigned long long>(d.offset);
        if (d.why == DamageKind::EndRecord) {
            std::fprintf(out, "   end record: %s\n", why);
        } else if (d.length != 0) {
            std::fprintf(out, "   block %llu: bytes %llu to %llu are zeros (%s)\n", block, from,
                         from + static_cast<unsigned long long>(d.length) - 1, why);
        } else {
            std::fprintf(out, "   block %llu: bytes %llu on are missing (%s)\n", block, from, why);
        }
    }
    if (!r.message.empty()) std::fprintf(out, " orsk: %s\n", r.message.c_str());
}

}  // namespace orsk::cli
