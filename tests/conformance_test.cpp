// Reference containers: every sample input compresses to exactly the stored container
// at every level, and every stored container restores exactly the sample.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "test_util.h"

namespace orsk::test {
namespace {

std::vector<std::string> SampleNames() {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(DataPath("conformance"))) {
        if (entry.path().extension() == ".bin") names.push_back(entry.path().stem().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

class Conformance : public ::testing::TestWithParam<int> {};

TEST_P(Conformance, CompressesToTheReferenceAndRestoresIt) {
    const Level level = Level(GetParam());
    const auto names = SampleNames();
    ASSERT_GE(names.size(), 11u);
    for (const auto& name : names) {
        SCOPED_TRACE(name);
        const Bytes input = ReadFileBytes(DataPath("conformance/" + name + ".bin"));
        const Bytes expected =
            ReadFileBytes(DataPath("conformance/" + name + ".L" + std::to_string(GetParam()) + ".orsk"));
        ASSERT_FALSE(expected.empty());
        const Bytes produced = Compress(level, input);
        EXPECT_EQ(produced.size(), expected.size());
        EXPECT_TRUE(produced == expected) << "first difference at byte "
                                          << std::mismatch(produced.begin(), produced.end(), expected.begin(),
                                                           expected.end()).first - produced.begin();
        Bytes restored;
        ASSERT_EQ(Decompress(level, expected, restored), Status::Ok);
        EXPECT_TRUE(restored == input);
    }
}

INSTANTIATE_TEST_SUITE_P(Levels, Conformance, ::testing::Range(0, LevelCount),
                         [](const ::testing::TestParamInfo<int>& p) { return "L" + std::to_string(p.param); });

}  // namespace
}  // namespace orsk::test
