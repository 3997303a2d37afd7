// The command line: the e/d and -m flag scan (only the first three characters of an
// argument count) plus this project's own options, which that scan ignores.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace orsk::cli {

struct Arguments {
    bool compress = false;    // an argument before -m starting with 'e'
    bool decompress = false;  // an argument before -m starting with 'd'
    bool levelGiven = false;
    std::uint8_t level = 0;   // third character of -m minus '0', kept to 8 bits
    bool namesGiven = false;  // two arguments follow -m
    std::string input;
    std::string output;
    // Own options (only before -m, where the flag scan ignores them).
    bool help = false;
    bool version = false;
    int threads = 0;               // -t<n>: worker threads, 0 = every core, -1 = malformed
    bool bench = false;            // -b[levels] FILE...: the built-in benchmark
    std::string benchLevels;       // what follows -b: "", "3" or "2-4"
    std::vector<std::string> benchFiles;
};

Arguments ScanArguments(const std::vector<std::string>& args);  // args without the program name

}  // namespace orsk::cli
