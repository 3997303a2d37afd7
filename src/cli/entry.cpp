// The process entry point: hands the arguments to the program as UTF-8 strings. On
// Windows the wide-character entry is used, so that any file name arrives intact.
#include <string>
#include <vector>

#include "cli/main.h"

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

int wmain(int argc, wchar_t** argv) {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        const int n = WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, nullptr, 0, nullptr, nullptr);
        std::string s(std::size_t(n > 0 ? n - 1 : 0), '\0');
        if (n > 1) WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, s.data(), n, nullptr, nullptr);
        args.push_back(std::move(s));
    }
    return orsk::cli::Main(args);
}
#else
int main(int argc, char** argv) { return orsk::cli::Main(std::vector<std::string>(argv + 1, argv + argc)); }
#endif
