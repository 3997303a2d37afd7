// POSIX implementation of the platform layer: clock_gettime, setpriority, plain file
// descriptors with 64-bit offsets, and a temporary-file-then-rename output.
#include "platform/platform.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <limits>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace orsk::platform {

namespace {

constexpr std::int64_t NanosPerSecond = 1000000000;

// The temporary file of the output being written, for the interrupt handler. Signal
// handlers can only reach process-wide storage; one output is open at a time.
char gPendingTemp[4096];
volatile std::sig_atomic_t gPendingSet = 0;
// The interrupt message, written as it stands by the handler (no formatting there).
char gInterruptMessage[4096];
volatile std::sig_atomic_t gInterruptLength = 0;
volatile std::sig_atomic_t gEndStdoutLine = 0;

void SetPending(const std::string& path) {
    gPendingSet = 0;
    if (path.size() < sizeof gPendingTemp) {
        std::memcpy(gPendingTemp, path.c_str(), path.size() + 1);
        gPendingSet = 1;
    }
}

// Only async-signal-safe calls: write, unlink, signal, raise.
void WriteAll(int fd, const char* p, std::size_t n) {
    while (n != 0) {
        const ssize_t w = write(fd, p, n);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return;
        p += w;
        n -= std::size_t(w);
    }
}

void OnInterrupt(int sig) {
    if (gEndStdoutLine) WriteAll(STDOUT_FILENO, "\n", 1);
    if (gInterruptLength > 0) WriteAll(STDERR_FILENO, gInterruptMessage, std::size_t(gInterruptLength));
    if (gPendingSet) unlink(gPendingTemp);
    // Ended by the signal itself, so that a calling shell sees it (status 128 + sig).
    signal(sig, SIG_DFL);
    raise(sig);
}

std::string Reason(int err) { return std::strerror(err); }

}  // namespace

std::int64_t CounterNow() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return std::int64_t(ts.tv_sec) * NanosPerSecond + ts.tv_nsec;
}

std::int64_t CounterFrequency() { return NanosPerSecond; }

void RaisePriority() {
    // Only from the default: a user who started orsk with nice keeps that choice.
    errno = 0;
    const int current = getpriority(PRIO_PROCESS, 0);
    if (errno != 0 || current != 0) return;
    // The most favourable nice value the system grants; never a real-time class,
    // which could starve the machine if a run went wrong.
    for (int nice = -20; nice < 0; ++nice) {
        if (setpriority(PRIO_PROCESS, 0, nice) == 0) return;
    }
}

bool IsTerminal(StandardStream stream) {
    const int fd = stream == StandardStream::Input    ? STDIN_FILENO
                   : stream == StandardStream::Output ? STDOUT_FILENO
                                                      : STDERR_FILENO;
    return isatty(fd) == 1;
}

InputFile::~InputFile() {
    if (owned_ && fd_ >= 0) close(fd_);
}

bool InputFile::Open(const std::string& name, std::string& why) {
    fd_ = open(name.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) {
        why = Reason(errno);
        return false;
    }
    owned_ = true;
    struct stat st;
    if (fstat(fd_, &st) != 0) {
        why = Reason(errno);
        return false;
    }
    if (S_ISDIR(st.st_mode)) {
        why = "is a directory";
        return false;
    }
    return true;
}

bool InputFile::OpenStdin() {
    fd_ = STDIN_FILENO;
    owned_ = false;
    return true;
}

bool InputFile::Read(std::uint8_t* p, std::size_t n, std::size_t& got) {
    got = 0;
    while (got < n) {
        const ssize_t r = read(fd_, p + got, n - got);
        if (r < 0) {
            if (errno == EINTR) continue;
            error_ = Reason(errno);
            return false;
        }
        if (r == 0) break;
        got += std::size_t(r);
    }
    return true;
}

bool InputFile::Size(std::uint64_t& size) const {
    struct stat st;
    if (fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) return false;
    size = std::uint64_t(st.st_size);
    return true;
}

bool InputFile::Left(std::uint64_t& left) const {
    std::uint64_t size = 0;
    const off_t at = lseek(fd_, 0, SEEK_CUR);
    if (!Size(size) || at < 0) return false;
    left = size > std::uint64_t(at) ? size - std::uint64_t(at) : 0;
    return true;
}

bool InputFile::Skip(std::uint64_t n) {
    if (n > std::uint64_t(std::numeric_limits<off_t>::max()) || lseek(fd_, off_t(n), SEEK_CUR) < 0) {
        error_ = n > std::uint64_t(std::numeric_limits<off_t>::max()) ? "cannot move that far" : Reason(errno);
        return false;
    }
    return true;
}

FileStamp InputFile::Stamp() const {
    FileStamp stamp;
    struct stat st;
    if (!owned_ || fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) return stamp;
    stamp.valid = true;
    // Not the set-id and sticky bits: the output belongs to whoever runs orsk.
    stamp.mode = std::uint32_t(st.st_mode & 0777);
    stamp.accessed[0] = st.st_atim.tv_sec;
    stamp.accessed[1] = st.st_atim.tv_nsec;
    stamp.modified[0] = st.st_mtim.tv_sec;
    stamp.modified[1] = st.st_mtim.tv_nsec;
    return stamp;
}

OutputFile::~OutputFile() {
    if (fd_ >= 0 && !isStdout_) close(fd_);
    if (!temp_.empty()) {
        unlink(temp_.c_str());
        gPendingSet = 0;
    }
}

bool OutputFile::Create(const std::string& name, std::string& why) {
    target_ = name;
    struct stat st;
    if (stat(name.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        if (S_ISDIR(st.st_mode)) {
            why = "is a directory";
            return false;
        }
        // A device or pipe is written in place: renaming over it would replace it.
        fd_ = open(name.c_str(), O_WRONLY | O_CLOEXEC);
        if (fd_ < 0) {
            why = Reason(errno);
            return false;
        }
        direct_ = true;
        return true;
    }
    std::string pattern = name + ".orsk-XXXXXX";
    fd_ = mkostemp(pattern.data(), O_CLOEXEC);
    if (fd_ < 0) {
        why = Reason(errno);
        return false;
    }
    temp_ = pattern;
    SetPending(temp_);
    // A new file gets the usual permissions; mkstemp's are owner-only.
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd_, 0666 & ~mask);
    return true;
}

bool OutputFile::UseStdout() {
    fd_ = STDOUT_FILENO;
    isStdout_ = true;
    return true;
}

bool OutputFile::Write(const std::uint8_t* p, std::size_t n, std::string& why) {
    if (!SpendWriteBudget(n)) {
        why = Reason(ENOSPC);
        return false;
    }
    while (n != 0) {
        const ssize_t w = write(fd_, p, n);
        if (w < 0) {
            if (errno == EINTR) continue;
            why = Reason(errno);
            return false;
        }
        p += w;
        n -= std::size_t(w);
    }
    return true;
}

bool OutputFile::Commit(std::string& why) {
    if (isStdout_) return true;
    const int fd = fd_;
    fd_ = -1;
    if (stamp_.valid && !direct_) {
        fchmod(fd, mode_t(stamp_.mode));
        const timespec times[2] = {{time_t(stamp_.accessed[0]), long(stamp_.accessed[1])},
                                   {time_t(stamp_.modified[0]), long(stamp_.modified[1])}};
        futimens(fd, times);
    }
    if (close(fd) != 0) {
        why = Reason(errno);
        return false;
    }
    if (direct_) return true;
    if (rename(temp_.c_str(), target_.c_str()) != 0) {
        why = Reason(errno);
        return false;
    }
    temp_.clear();
    gPendingSet = 0;
    return true;
}

std::uint64_t FileSizeOf(const std::string& name) {
    struct stat st;
    if (stat(name.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return 0;
    return std::uint64_t(st.st_size);
}

bool SameFile(const std::string& a, const std::string& b) {
    struct stat sa, sb;
    if (stat(a.c_str(), &sa) != 0 || stat(b.c_str(), &sb) != 0) return false;
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

void InstallInterruptCleanup() {
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction old;
        if (sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;  // nohup, a background job
        struct sigaction action;
        std::memset(&action, 0, sizeof action);
        action.sa_handler = OnInterrupt;
        sigemptyset(&action.sa_mask);
        sigaction(sig, &action, nullptr);
    }
}

void SetInterruptMessage(const std::string& message, bool endStdoutLine) {
    gInterruptLength = 0;
    const std::size_t n = std::min(message.size(), sizeof gInterruptMessage);
    std::memcpy(gInterruptMessage, message.data(), n);
    gEndStdoutLine = endStdoutLine ? 1 : 0;
    gInterruptLength = std::sig_atomic_t(n);
}

}  // namespace orsk::platform
