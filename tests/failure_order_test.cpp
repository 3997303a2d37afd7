// The ordered pipeline reports the earliest job's failure, whichever stage met it, with
// every job before it consumed in order: the same with one worker thread or several.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "container/drivers/pipeline.h"

namespace orsk::test {
namespace {

TEST(PipelineOrder, EarliestFailureWinsWhateverTheStage) {
    // The job at which producing, working and consuming fail (1000: never).
    struct Case {
        std::size_t produce, work, consume;
    };
    for (const Case c : {Case{6, 4, 1000}, Case{4, 6, 1000}, Case{9, 1000, 5}, Case{3, 1000, 1000},
                         Case{1, 0, 1000}, Case{0, 1000, 1000}}) {
        const std::size_t first = std::min({c.produce, c.work, c.consume});
        const Status expected = first == c.produce ? Status::Truncated
                                : first == c.work  ? Status::Corrupt
                                                   : Status::WriteFailed;
        for (std::size_t threads : {1u, 2u, 4u}) {
            OrderedPipeline pipeline(threads, threads == 1 ? 1 : 2 * threads);
            std::vector<std::size_t> job(pipeline.slots());
            std::vector<std::size_t> seen;
            std::size_t next = 0;
            auto produce = [&](std::size_t slot, bool& more) {
                if (next == c.produce) return Status::Truncated;
                job[slot] = next++;
                more = true;
                return Status::Ok;
            };
            auto work = [&](std::size_t slot, std::size_t) {
                return job[slot] == c.work ? Status::Corrupt : Status::Ok;
            };
            auto consume = [&](std::size_t slot) {
                if (job[slot] == c.consume) return Status::WriteFailed;
                seen.push_back(job[slot]);
                return Status::Ok;
            };
            std::size_t failed = 1000;
            EXPECT_EQ(pipeline.Run(produce, work, consume, failed), expected) << threads << " threads";
            EXPECT_EQ(failed, first) << threads << " threads";
            ASSERT_EQ(seen.size(), first) << threads << " threads";
            for (std::size_t i = 0; i < seen.size(); ++i) EXPECT_EQ(seen[i], i);
        }
    }
}

}  // namespace
}  // namespace orsk::test
