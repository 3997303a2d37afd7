// The only code that talks to the operating system: the monotonic counter, process
// priority, and files with 64-bit sizes and positions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace orsk::platform {

// Monotonic counter and its ticks per second.
std::int64_t CounterNow();
std::int64_t CounterFrequency();
// (end - start) x 1,000,000 / frequency, truncating, without overflow for long runs.
std::int64_t StageMicros(std::int64_t start, std::int64_t end, std::int64_t frequency);

// Tries to run at the highest priority the system grants; failures are silent. A
// process started at a lowered priority (nice, a below-normal class) keeps it.
void RaisePriority();

enum class StandardStream { Input, Output, Error };
// True when the stream is a terminal (on Windows a console, not any character device:
// the NUL device is none).
bool IsTerminal(StandardStream stream);

// What an output keeps of its input when that is a named regular file: the permission
// bits and the access and modification times.
struct FileStamp {
    bool valid = false;
    std::uint32_t mode = 0;          // read, write, execute for owner, group, others
    std::int64_t accessed[2] = {};   // seconds and nanoseconds (Windows: file time in [0])
    std::int64_t modified[2] = {};
};

// A file opened for reading. Names are byte strings as given on the command line;
// "-" is not special here (the caller decides).
class InputFile {
public:
    InputFile() = default;
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;
    ~InputFile();
    // False (with errno-based reason in `why`) when it cannot be opened or is not a
    // regular file or pipe.
    bool Open(const std::string& name, std::string& why);
    bool OpenStdin();
    // Reads up to n bytes; stops early only at end of file. False on a read error,
    // whose reason error() then tells.
    bool Read(std::uint8_t* p, std::size_t n, std::size_t& got);
    const std::string& error() const { return error_; }
    // Size of a regular file; false when unknown (pipes).
    bool Size(std::uint64_t& size) const;
    // The bytes of a regular file from the position on; false when unknown (pipes).
    bool Left(std::uint64_t& left) const;
    // Moves the position of a regular file n bytes on, unread. False (error() says why)
    // when it cannot.
    bool Skip(std::uint64_t n);
    // The stamp of a file opened by name; not valid for standard input or a pipe.
    FileStamp Stamp() const;

private:
#ifdef _WIN32
    void* handle_ = nullptr;
#else
    int fd_ = -1;
#endif
    bool owned_ = false;
    std::string error_;
};

// The output of a run: written to a temporary file beside the target and renamed over
// it only by Commit(), so a failed run never truncates or replaces an existing file.
class OutputFile {
public:
    OutputFile() = default;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    ~OutputFile();  // removes the temporary file unless committed
    bool Create(const std::string& name, std::string& why);
    bool UseStdout();
    bool Write(const std::uint8_t* p, std::size_t n, std::string& why);
    // The file renamed into place by Commit() gets this stamp (if valid); a device, a
    // pipe or standard output keeps its own. A stamp that cannot be set is no failure.
    void KeepStamp(const FileStamp& stamp) { stamp_ = stamp; }
    bool Commit(std::string& why);
    // Test seam: writes fail once `bytes` more bytes were written, as on a full disk;
    // negative (the default): never.
    void FailWritesAfter(std::int64_t bytes) { writeBudget_ = bytes; }

private:
    bool SpendWriteBudget(std::size_t n);  // false when this write must fail

#ifdef _WIN32
    void* handle_ = nullptr;
#else
    int fd_ = -1;
#endif
    bool isStdout_ = false;
    bool direct_ = false;  // a device or pipe named as output, written in place
    FileStamp stamp_;
    std::string target_;
    std::string temp_;
    std::int64_t writeBudget_ = -1;
};

// Size of a named file, 0 when it cannot be opened.
std::uint64_t FileSizeOf(const std::string& name);
// True when both names lead to the same existing file (links, other spellings).
bool SameFile(const std::string& a, const std::string& b);
// On Ctrl-C or a termination signal: prints the interrupt message, removes the output's
// temporary file and ends the process as that signal does (exit status 128 + signal; on
// Windows 130). Signals the process was started to ignore (nohup) stay ignored.
void InstallInterruptCleanup();
// The line the interrupt prints on standard error (empty: none); `endStdoutLine` first
// ends a progress line left open on standard output.
void SetInterruptMessage(const std::string& message, bool endStdoutLine);

}  // namespace orsk::platform
