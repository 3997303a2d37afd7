// The command line: the e/d commands, our options, then -m<level> and the two names
// (d alone may end with its two names). A command line that cannot be run is refused
// with the reason, before anything opens.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace orsk::cli {

struct Arguments {
    bool compress = false;    // an argument before -m starting with 'e'
    bool decompress = false;  // an argument before -m starting with 'd'
    bool levelGiven = false;
    std::uint8_t level = 0;   // 0..5, the one digit after -m
    bool levelFromContainer = false;  // -m alone, or d with no -m: the level from the container
    bool namesGiven = false;  // two arguments follow -m
    std::string input;
    std::string output;
    // Options (only before -m).
    bool help = false;
    bool version = false;
    int threads = 0;               // -t<n>: worker threads, 0 = every core
    bool salvage = false;          // --salvage: restore every block of a damaged container that restores
    bool ranged = false;           // --range=START:LENGTH: d writes only those bytes of the data
    std::uint64_t rangeStart = 0;
    std::uint64_t rangeLength = 0;
    bool bench = false;            // -b[levels] FILE...: the built-in benchmark
    std::string benchLevels;       // what follows -b: "", "3" or "2-4"
    std::vector<std::string> benchFiles;
    bool check = false;            // --check: e writes a checked container
    // --effort=N (0..9), or a list for -b (--effort=0,5,9): how hard e searches.
    std::vector<unsigned> efforts;
    bool list = false;             // -l FILE...: what each container is
    bool quiet = false;            // -q: print nothing but errors
    std::vector<std::string> listFiles;
    std::string error;  // why the command line is refused (exit 1); empty when it is not
};

Arguments ScanArguments(const std::vector<std::string>& args);  // args without the program name

}  // namespace orsk::cli
