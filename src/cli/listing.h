// orsk -l FILE...: one line per container telling its kind, level, blocks and sizes.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace orsk::cli {

// Lists each file on `out`; a file that is not a container (or cannot be read) is
// reported on standard error. Returns the exit code: 2 when any file failed.
int ListContainers(const std::vector<std::string>& files, std::FILE* out);

}  // namespace orsk::cli
