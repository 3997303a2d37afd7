// Replays saved fuzz inputs through a target without libFuzzer: every file named on the
// command line (directories are walked) is passed to LLVMFuzzerTestOneInput. A target
// aborts when an invariant breaks, which fails the run; a non-zero return is counted as
// a failure, and so is a run that found no input at all.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

bool Replay(const std::filesystem::path& p) {
    std::ifstream f(p, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    // An exact-size copy, so reads past the end are caught by the sanitizers.
    std::vector<std::uint8_t> data(bytes.begin(), bytes.end());
    data.shrink_to_fit();
    if (LLVMFuzzerTestOneInput(data.data(), data.size()) == 0) return true;
    std::printf("FAIL: %s\n", p.string().c_str());
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    int count = 0, failed = 0;
    auto run = [&](const std::filesystem::path& p) {
        ++count;
        if (!Replay(p)) ++failed;
    };
    for (int i = 1; i < argc; ++i) {
        const std::filesystem::path p(argv[i]);
        if (std::filesystem::is_directory(p)) {
            for (const auto& e : std::filesystem::recursive_directory_iterator(p)) {
                if (e.is_regular_file()) run(e.path());
            }
        } else if (std::filesystem::exists(p)) {
            run(p);
        }
    }
    std::printf("replayed %d inputs: %d passed, %d failed\n", count, count - failed, failed);
    return count == 0 || failed != 0 ? 1 : 0;
}
