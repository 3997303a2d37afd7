// Windows implementation of the platform layer: the performance counter, real-time
// priority (attempted), wide-character file names converted from UTF-8, and a
// temporary-file-then-rename output.
#include "platform/platform.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <algorithm>
#include <csignal>
#include <cstring>

namespace orsk::platform {

namespace {

// The temporary file of the output being written, for the console interrupt handler.
wchar_t gPendingTemp[32768];
volatile LONG gPendingSet = 0;
// The interrupt message, written as it stands by the handler.
char gInterruptMessage[4096];
volatile LONG gInterruptLength = 0;
volatile LONG gEndStdoutLine = 0;

std::wstring Wide(const std::string& utf8) {
    if (utf8.empty()) return {};
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), nullptr, 0);
    std::wstring w(std::size_t(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), w.data(), n);
    return w;
}

std::string Reason(DWORD err) {
    char* text = nullptr;
    FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                   err, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string s = text != nullptr ? text : "error " + std::to_string(err);
    LocalFree(text);
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == '.')) s.pop_back();
    return s;
}

void WriteAll(DWORD which, const char* p, DWORD n) {
    DWORD written = 0;
    WriteFile(GetStdHandle(which), p, n, &written, nullptr);
}

BOOL WINAPI OnConsoleEvent(DWORD) {
    if (gEndStdoutLine) WriteAll(STD_OUTPUT_HANDLE, "\n", 1);
    if (gInterruptLength > 0) WriteAll(STD_ERROR_HANDLE, gInterruptMessage, DWORD(gInterruptLength));
    if (gPendingSet) DeleteFileW(gPendingTemp);
    // The exit status of an interrupted POSIX run (128 + SIGINT). The handler runs on a
    // thread of its own, so the process ends without running anything else.
    TerminateProcess(GetCurrentProcess(), 130);
    return TRUE;
}

}  // namespace

std::int64_t CounterNow() {
    LARGE_INTEGER v;
    QueryPerformanceCounter(&v);
    return v.QuadPart;
}

std::int64_t CounterFrequency() {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f.QuadPart;
}

void RaisePriority() {
    // A process started below the normal class keeps it.
    const DWORD current = GetPriorityClass(GetCurrentProcess());
    if (current == IDLE_PRIORITY_CLASS || current == BELOW_NORMAL_PRIORITY_CLASS) return;
    // The thread is raised only when the process class was granted.
    if (SetPriorityClass(GetCurrentProcess(), REALTIME_PRIORITY_CLASS)) {
        SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
    }
}

bool IsTerminal(StandardStream stream) {
    const DWORD which = stream == StandardStream::Input    ? STD_INPUT_HANDLE
                        : stream == StandardStream::Output ? STD_OUTPUT_HANDLE
                                                           : STD_ERROR_HANDLE;
    // A console, not any character device (_isatty also says yes for NUL).
    DWORD mode;
    return GetConsoleMode(GetStdHandle(which), &mode) != 0;
}

InputFile::~InputFile() {
    if (owned_ && handle_ != nullptr) CloseHandle(static_cast<HANDLE>(handle_));
}

bool InputFile::Open(const std::string& name, std::string& why) {
    const std::wstring w = Wide(name);
    const DWORD attributes = GetFileAttributesW(w.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        why = "is a directory";
        return false;
    }
    HANDLE h = CreateFileW(w.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                           FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        why = Reason(GetLastError());
        return false;
    }
    handle_ = h;
    owned_ = true;
    return true;
}

bool InputFile::OpenStdin() {
    handle_ = GetStdHandle(STD_INPUT_HANDLE);
    owned_ = false;
    return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE;
}

bool InputFile::Read(std::uint8_t* p, std::size_t n, std::size_t& got) {
    got = 0;
    while (got < n) {
        const DWORD want = DWORD(std::min<std::size_t>(n - got, 1u << 30));
        DWORD r = 0;
        if (!ReadFile(static_cast<HANDLE>(handle_), p + got, want, &r, nullptr)) {
            const DWORD err = GetLastError();
            if (err == ERROR_BROKEN_PIPE) return true;  // a closed pipe is the end of input
            error_ = Reason(err);
            return false;
        }
        if (r == 0) break;
        got += r;
    }
    return true;
}

bool InputFile::Size(std::uint64_t& size) const {
    LARGE_INTEGER s;
    if (GetFileType(static_cast<HANDLE>(handle_)) != FILE_TYPE_DISK || !GetFileSizeEx(static_cast<HANDLE>(handle_), &s)) {
        return false;
    }
    size = std::uint64_t(s.QuadPart);
    return true;
}

bool InputFile::Left(std::uint64_t& left) const {
    std::uint64_t size = 0;
    LARGE_INTEGER zero{}, at{};
    if (!Size(size) || !SetFilePointerEx(static_cast<HANDLE>(handle_), zero, &at, FILE_CURRENT)) return false;
    left = size > std::uint64_t(at.QuadPart) ? size - std::uint64_t(at.QuadPart) : 0;
    return true;
}

bool InputFile::Skip(std::uint64_t n) {
    LARGE_INTEGER by{};
    by.QuadPart = LONGLONG(std::min<std::uint64_t>(n, std::uint64_t(INT64_MAX)));
    if (n > std::uint64_t(INT64_MAX) || !SetFilePointerEx(static_cast<HANDLE>(handle_), by, nullptr, FILE_CURRENT)) {
        error_ = Reason(GetLastError());
        return false;
    }
    return true;
}

FileStamp InputFile::Stamp() const {
    FileStamp stamp;
    FILETIME accessed, modified;
    HANDLE h = static_cast<HANDLE>(handle_);
    // Only the times: Windows has no permission bits to carry.
    if (!owned_ || GetFileType(h) != FILE_TYPE_DISK || !GetFileTime(h, nullptr, &accessed, &modified)) return stamp;
    stamp.valid = true;
    stamp.accessed[0] = std::int64_t((std::uint64_t(accessed.dwHighDateTime) << 32) | accessed.dwLowDateTime);
    stamp.modified[0] = std::int64_t((std::uint64_t(modified.dwHighDateTime) << 32) | modified.dwLowDateTime);
    return stamp;
}

OutputFile::~OutputFile() {
    if (handle_ != nullptr && !isStdout_) CloseHandle(static_cast<HANDLE>(handle_));
    if (!temp_.empty()) {
        DeleteFileW(Wide(temp_).c_str());
        gPendingSet = 0;
    }
}

bool OutputFile::Create(const std::string& name, std::string& why) {
    target_ = name;
    const std::wstring w = Wide(name);
    const DWORD attributes = GetFileAttributesW(w.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        why = "is a directory";
        return false;
    }
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        const std::string temp = name + ".orsk-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(attempt);
        HANDLE h = CreateFileW(Wide(temp).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h != INVALID_HANDLE_VALUE) {
            handle_ = h;
            temp_ = temp;
            const std::wstring wt = Wide(temp);
            if (wt.size() < sizeof gPendingTemp / sizeof gPendingTemp[0]) {
                wcscpy(gPendingTemp, wt.c_str());
                gPendingSet = 1;
            }
            return true;
        }
        if (GetLastError() != ERROR_FILE_EXISTS) break;
    }
    why = Reason(GetLastError());
    return false;
}

bool OutputFile::UseStdout() {
    handle_ = GetStdHandle(STD_OUTPUT_HANDLE);
    isStdout_ = true;
    return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE;
}

bool OutputFile::Write(const std::uint8_t* p, std::size_t n, std::string& why) {
    if (!SpendWriteBudget(n)) {
        why = Reason(ERROR_DISK_FULL);
        return false;
    }
    while (n != 0) {
        const DWORD want = DWORD(std::min<std::size_t>(n, 1u << 30));
        DWORD w = 0;
        if (!WriteFile(static_cast<HANDLE>(handle_), p, want, &w, nullptr) || w == 0) {
            why = Reason(GetLastError());
            return false;
        }
        p += w;
        n -= w;
    }
    return true;
}

bool OutputFile::Commit(std::string& why) {
    if (isStdout_) return true;
    HANDLE h = static_cast<HANDLE>(handle_);
    handle_ = nullptr;
    if (stamp_.valid) {
        auto fileTime = [](std::int64_t t) {
            return FILETIME{DWORD(std::uint64_t(t) & 0xFFFFFFFFu), DWORD(std::uint64_t(t) >> 32)};
        };
        const FILETIME accessed = fileTime(stamp_.accessed[0]), modified = fileTime(stamp_.modified[0]);
        SetFileTime(h, nullptr, &accessed, &modified);
    }
    if (!CloseHandle(h)) {
        why = Reason(GetLastError());
        return false;
    }
    if (!MoveFileExW(Wide(temp_).c_str(), Wide(target_).c_str(), MOVEFILE_REPLACE_EXISTING)) {
        why = Reason(GetLastError());
        return false;
    }
    temp_.clear();
    gPendingSet = 0;
    return true;
}

std::uint64_t FileSizeOf(const std::string& name) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(Wide(name).c_str(), GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return 0;
    }
    return (std::uint64_t(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

bool SameFile(const std::string& a, const std::string& b) {
    auto identify = [](const std::string& name, BY_HANDLE_FILE_INFORMATION& info) {
        HANDLE h = CreateFileW(Wide(name).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (h == INVALID_HANDLE_VALUE) return false;
        const bool ok = GetFileInformationByHandle(h, &info) != 0;
        CloseHandle(h);
        return ok;
    };
    BY_HANDLE_FILE_INFORMATION ia, ib;
    if (!identify(a, ia) || !identify(b, ib)) return false;
    return ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber && ia.nFileIndexHigh == ib.nFileIndexHigh &&
           ia.nFileIndexLow == ib.nFileIndexLow;
}

void InstallInterruptCleanup() {
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
    SetConsoleOutputCP(CP_UTF8);  // names are UTF-8 inside the program
}

void SetInterruptMessage(const std::string& message, bool endStdoutLine) {
    gInterruptLength = 0;
    const std::size_t n = std::min(message.size(), sizeof gInterruptMessage);
    std::memcpy(gInterruptMessage, message.data(), n);
    gEndStdoutLine = endStdoutLine ? 1 : 0;
    gInterruptLength = LONG(n);
}

}  // namespace orsk::platform
