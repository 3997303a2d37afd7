// Command-line scan: e/d flags and -m<level>, only the first three characters of each
// argument counting, then the two names after -m. Nothing after -m is taken as a flag.
#include "cli/arguments.h"

namespace orsk::cli {

Arguments ScanArguments(const std::vector<std::string>& args) {
    Arguments a;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const char c0 = arg.empty() ? '\0' : arg[0];
        const char c1 = arg.size() > 1 ? arg[1] : '\0';
        const char c2 = arg.size() > 2 ? arg[2] : '\0';
        if (c0 == 'e') {
            a.compress = true;
        } else if (c0 == 'd') {
            a.decompress = true;
        } else if (c0 == '-' && c1 == 'm') {
            a.levelGiven = true;
            // Any character outside '0'..'5' gives a value above 5.
            a.level = std::uint8_t(c2 - '0');
            if (i + 2 < args.size()) {
                a.input = args[i + 1];
                a.output = args[i + 2];
                a.namesGiven = true;
            }
            break;
        } else if (c0 == '-' && c1 == 'b') {
            // The benchmark takes every later argument as a file name.
            a.bench = true;
            a.benchLevels = arg.substr(2);
            a.benchFiles.assign(args.begin() + std::ptrdiff_t(i) + 1, args.end());
            break;
        } else if (c0 == '-' && c1 == 't') {
            a.threads = -1;
            if (arg.size() > 2 && arg.size() <= 5 && arg.find_first_not_of("0123456789", 2) == std::string::npos) {
                a.threads = std::stoi(arg.substr(2));
                if (a.threads == 0) a.threads = -1;
            }
        } else if (arg == "-h" || arg == "--help") {
            a.help = true;
        } else if (arg == "-V" || arg == "--version") {
            a.version = true;
        }
    }
    return a;
}

}  // namespace orsk::cli
