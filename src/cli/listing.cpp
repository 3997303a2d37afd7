// The container listing: what InspectFile tells, one line per file.
#include "cli/listing.h"

#include "cli/report.h"
#include "files/file_driver.h"

namespace orsk::cli {

int ListContainers(const std::vector<std::string>& files, std::FILE* out) {
    int code = 0;
    for (const std::string& file : files) {
        ContainerFacts facts;
        const FileRunResult r = InspectFile(file, facts);
        if (r.status != Status::Ok) {
            std::fflush(out);
            std::fprintf(stderr, " orsk: %s\n", r.message.c_str());
            code = 2;
            continue;
        }
        const bool checked = facts.restore.kind == ContainerKind::Checked;
        const double ratio = r.bytesIn == 0 ? 0.0 : double(facts.restoredLength) / double(r.bytesIn);
        std::fprintf(out, " %s: %s, %s, %llu blocks (%llu stored, %llu compressed), %llu -> %llu bytes, ratio %.3f\n",
                     file.c_str(), checked ? "checked" : "plain", LevelFound(facts.restore).c_str(),
                     static_cast<unsigned long long>(facts.blocks), static_cast<unsigned long long>(facts.storedBlocks),
                     static_cast<unsigned long long>(facts.blocks - facts.storedBlocks),
                     static_cast<unsigned long long>(r.bytesIn), static_cast<unsigned long long>(facts.restoredLength),
                     ratio);
    }
    return code;
}

}  // namespace orsk::cli
