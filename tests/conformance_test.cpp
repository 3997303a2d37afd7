// Reference containers: every sample compresses to exactly its stored container at every
// level, also through one context reused for all, and every stored container restores it.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "orsk/orsk.h"
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
    const std::unique_ptr<orsk_context, void (*)(orsk_context*)> ctx(orsk_context_create(), orsk_context_free);
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
        Bytes viaContext(orsk_compress_bound(input.size()));
        size_t n = 0;
        EXPECT_TRUE(orsk_compress_ctx(ctx.get(), GetParam(), 0, input.data(), input.size(), viaContext.data(),
                                      viaContext.size(), &n) == ORSK_OK &&
                    Bytes(viaContext.begin(), viaContext.begin() + n) == expected) << "through a context";
    }
}

INSTANTIATE_TEST_SUITE_P(Levels, Conformance, ::testing::Range(0, LevelCount),
                         [](const ::testing::TestParamInfo<int>& p) { return "L" + std::to_string(p.param); });

}  // namespace
}  // namespace orsk::test
