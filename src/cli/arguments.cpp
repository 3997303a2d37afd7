// Command-line scan: words starting with e or d are the commands, words starting with
// '-' are options from the table below, -m<digit> (or -m alone: the container's level)
// ends the scan, and exactly two names follow it. Nothing after -m is taken as a command
// or option. d with no -m takes the last two words as its names.
#include "cli/arguments.h"

#include <cstring>

namespace orsk::cli {

namespace {

// What an option does with the text glued behind its name ("4" of "-t4"); false with
// `error` set when that text is malformed.
using ApplyOption = bool (*)(Arguments& a, const std::string& value);

bool SetThreads(Arguments& a, const std::string& value) {
    if (value.empty() || value.find_first_not_of("0123456789") != std::string::npos) {
        a.error = "invalid thread count in '-t" + value + "': give a number from 1 up (-t1, -t4)";
        return false;
    }
    // Far more than any machine uses: the drivers cap it anyway.
    constexpr int Most = 1000000;
    int n = 0;
    for (char c : value) n = n > Most / 10 ? Most : n * 10 + (c - '0');
    if (n == 0) {
        a.error = "invalid thread count in '-t" + value + "': give a number from 1 up (-t1, -t4)";
        return false;
    }
    a.threads = n;
    return true;
}

bool SetBench(Arguments& a, const std::string& value) {
    a.bench = true;
    a.benchLevels = value;
    return true;
}

// "N" or "N,M,...", each 0 to 9.
bool SetEffort(Arguments& a, const std::string& value) {
    a.efforts.clear();
    bool digit = false;
    for (char c : value + ",") {
        if (c >= '0' && c <= '9' && !digit) {
            a.efforts.push_back(unsigned(c - '0'));
            digit = true;
        } else if (c == ',' && digit) {
            digit = false;
        } else {
            a.error = "invalid effort in '--effort=" + value + "': give 1 (fastest) to 9 (smallest), or 0 for the "
                      "level's own parse";
            return false;
        }
    }
    return true;
}

bool SetCheck(Arguments& a, const std::string&) {
    a.check = true;
    return true;
}

bool SetList(Arguments& a, const std::string&) {
    a.list = true;
    return true;
}

bool SetSalvage(Arguments& a, const std::string&) {
    a.salvage = true;
    return true;
}

// A decimal byte count of up to 20 digits that fits 64 bits.
bool ReadCount(const std::string& digits, std::uint64_t& n) {
    if (digits.empty() || digits.size() > 20 || digits.find_first_not_of("0123456789") != std::string::npos) return false;
    n = 0;
    for (char c : digits) {
        if (n > (UINT64_MAX - std::uint64_t(c - '0')) / 10) return false;
        n = n * 10 + std::uint64_t(c - '0');
    }
    return true;
}

bool SetRange(Arguments& a, const std::string& value) {
    const std::size_t colon = value.find(':');
    if (value.empty() || value[0] != '=' || colon == std::string::npos ||
        !ReadCount(value.substr(1, colon - 1), a.rangeStart) || !ReadCount(value.substr(colon + 1), a.rangeLength)) {
        a.error = "invalid range in '--range" + value + "': give --range=START:LENGTH in bytes (--range=1048576:4096)";
        return false;
    }
    a.ranged = true;
    return true;
}

bool SetQuiet(Arguments& a, const std::string&) {
    a.quiet = true;
    return true;
}

bool SetHelp(Arguments& a, const std::string&) {
    a.help = true;
    return true;
}

bool SetVersion(Arguments& a, const std::string&) {
    a.version = true;
    return true;
}

struct Option {
    const char* name;
    bool glued;  // a value may follow the name in the same argument (-t4, -b2-4)
    ApplyOption apply;
};

// Every option that may come before -m.
const Option Options[] = {
    {"-t", true, SetThreads},  {"-b", true, SetBench},
    {"-h", false, SetHelp},    {"--help", false, SetHelp},
    {"-V", false, SetVersion}, {"--version", false, SetVersion},
    {"--check", false, SetCheck}, {"-l", false, SetList},
    {"--effort=", true, SetEffort},
    {"--salvage", false, SetSalvage}, {"--range", true, SetRange},
    {"-q", false, SetQuiet},   {"--quiet", false, SetQuiet},
};

const Option* FindOption(const std::string& arg) {
    for (const Option& o : Options) {
        const std::size_t n = std::strlen(o.name);
        if (o.glued ? arg.compare(0, n, o.name) == 0 : arg == o.name) return &o;
    }
    return nullptr;
}

bool IsLevel(const std::string& arg) { return arg.compare(0, 2, "-m") == 0; }
bool IsCommand(const std::string& arg) { return arg == "e" || arg == "d"; }

// -m<digit> or -m alone, and the names behind it.
void ScanLevelAndNames(Arguments& a, const std::string& arg, const std::vector<std::string>& names) {
    const std::string value = arg.substr(2);
    if (value.empty()) {
        a.levelFromContainer = true;
    } else if (value.size() != 1 || value[0] < '0' || value[0] > '5') {
        a.error = "invalid level in '" + arg + "': the valid levels are 0 to 5 (-m0 ... -m5)";
        return;
    } else {
        a.level = std::uint8_t(value[0] - '0');
    }
    a.levelGiven = true;
    if (names.size() > 2) {
        a.error = "more than two names after " + arg + " (input and output)";
        for (const std::string& name : names) {
            if (FindOption(name) != nullptr || IsLevel(name)) {
                a.error += ": '" + name + "' looks like an option, and options go before -m";
                break;
            }
            if (IsCommand(name)) {
                a.error += ": '" + name + "' looks like a command, and e and d go before -m";
                break;
            }
        }
        return;
    }
    if (names.size() == 2) {
        a.input = names[0];
        a.output = names[1];
        a.namesGiven = true;
    }
}

// The words up to -m (and what follows it); `ignored` counts the words that are neither
// a command nor an option.
Arguments ScanWords(const std::vector<std::string>& args, std::size_t& ignored) {
    Arguments a;
    ignored = 0;
    for (std::size_t i = 0; i < args.size() && a.error.empty(); ++i) {
        const std::string& arg = args[i];
        if (arg.empty()) {
            ++ignored;
        } else if (arg[0] == 'e') {  // "encode" counts as e
            a.compress = true;
        } else if (arg[0] == 'd') {
            a.decompress = true;
        } else if (IsLevel(arg)) {
            ScanLevelAndNames(a, arg, std::vector<std::string>(args.begin() + std::ptrdiff_t(i) + 1, args.end()));
            break;
        } else if (arg[0] == '-') {
            const Option* option = FindOption(arg);
            if (option == nullptr) {
                a.error = "unknown option '" + arg + "'";
                if (arg == "-e" || arg == "-d") a.error += " (the commands e and d take no dash)";
                break;
            }
            if (!option->apply(a, arg.substr(std::strlen(option->name)))) break;
            if (a.bench) {  // the benchmark takes every later argument as a file name
                a.benchFiles.assign(args.begin() + std::ptrdiff_t(i) + 1, args.end());
                break;
            }
            if (a.list) {  // so does the listing
                a.listFiles.assign(args.begin() + std::ptrdiff_t(i) + 1, args.end());
                break;
            }
        } else {
            ++ignored;  // as it always was
        }
    }
    return a;
}

}  // namespace

Arguments ScanArguments(const std::vector<std::string>& args) {
    std::size_t ignored = 0;
    Arguments a = ScanWords(args, ignored);
    // "d in out" as other compressors take it: when the words before the last two are
    // d and options only, those two are the names and the level comes from the
    // container. Names that look like commands or options ("d.orsk", "-") are names there.
    if (a.levelGiven || args.size() < 3) return a;
    const auto names = args.end() - 2;
    if (IsLevel(names[0]) || IsLevel(names[1])) return a;
    Arguments d = ScanWords(std::vector<std::string>(args.begin(), names), ignored);
    if (!d.error.empty() || ignored != 0 || !d.decompress || d.compress || d.levelGiven || d.bench || d.list) return a;
    d.levelGiven = d.levelFromContainer = d.namesGiven = true;
    d.input = names[0];
    d.output = names[1];
    return d;
}

}  // namespace orsk::cli
