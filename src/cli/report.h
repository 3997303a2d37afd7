// Console text of a run: banner, usage, announcements, progress lines and the timing
// report, in their fixed formats.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "base/format.h"
#include "files/file_driver.h"

namespace orsk::cli {

extern const char* const VersionLine;

void PrintBanner(std::FILE* out);
void PrintUsage(std::FILE* out);
void PrintHelp(std::FILE* out);

// MB per second of `bytes` over `micros`, 0 when no time was measured.
double Speed(std::uint64_t bytes, std::int64_t micros);

// Progress lines overwrite each other on a terminal; elsewhere only the last one of a
// run is printed, so logs stay readable. With no `out` (quiet) nothing is.
class Progress {
public:
    Progress(std::FILE* out, bool live) : out_(out), live_(live && out != nullptr) {}
    void Show(const std::string& line);
    void Finish();
    bool live() const { return live_; }

private:
    std::FILE* out_;
    bool live_;
    std::string last_;
};

std::string CompressProgressLine(Level level, const CompressEvent& e);
std::string DecompressProgressLine(Level level, const DecompressEvent& e);  // empty for levels 2 to 5

// Where a restore is, for a terminal only: the block and the bytes restored, and the
// share of a `containerSize`-byte container read (none when the size is unknown, 0).
class RestoreProgress {
public:
    explicit RestoreProgress(std::uint64_t containerSize) : containerSize_(containerSize) {}
    std::string Line(const DecompressEvent& e);

private:
    std::uint64_t containerSize_;
    std::uint64_t read_ = 1;  // the container's first byte
    std::uint64_t restored_ = 0;
};

// 5966411 as "5,966,411".
std::string Grouped(std::uint64_t n);

void PrintCompressAnnouncement(std::FILE* out, Level level);
void PrintDecompressAnnouncement(std::FILE* out, Level level);
void PrintCompressReport(std::FILE* out, const FileRunResult& r, std::int64_t totalMicros);
void PrintDecompressReport(std::FILE* out, std::uint64_t restoredBytes, std::int64_t totalMicros);
// Behind either report: the sizes of the data and its container (as read, also from a
// pipe) with the container's share of the data, and what the report's figures mean: MB
// of 1,048,576 bytes, and with `threadsSummed` the stage times summed over threads.
void PrintSizes(std::FILE* out, const std::string& name, std::uint64_t from, std::uint64_t to, bool compressing,
                bool threadsSummed);
// The level a restore with -m alone settled on: "level 3 NORMAL", "level 2 FAST
// (detected)" and which other levels restore it alike, or "any level".
std::string LevelFound(const RestoreFacts& facts);
// What is printed before the reason when a block of the level does not restore.
const char* BlockFailureWord(Level level);
void PrintLevelFound(std::FILE* out, const RestoreFacts& facts);
// The blocks a salvaging restore of `container` did not restore, one line each, and what
// ended it.
void PrintDamage(std::FILE* out, const std::string& container, const FileRunResult& r);

}  // namespace orsk::cli
