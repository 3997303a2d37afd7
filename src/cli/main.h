// The program, given its arguments (without the program name) as UTF-8 strings;
// returns the exit code. The platform's entry point calls it.
#pragma once

#include <string>
#include <vector>

namespace orsk::cli {

int Main(const std::vector<std::string>& args);

}  // namespace orsk::cli
