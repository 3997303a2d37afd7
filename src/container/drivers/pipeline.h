// An ordered pipeline: the calling thread produces jobs (reads) and consumes their
// results (writes) strictly in order, while a small pool of workers runs the jobs in
// between. With one thread everything runs inline, exactly as a plain loop would.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "base/format.h"

namespace orsk {

class OrderedPipeline {
public:
    // produce(slot, more): fill the slot with the next job, or set more = false at the end.
    using Produce = std::function<Status(std::size_t slot, bool& more)>;
    using Work = std::function<Status(std::size_t slot, std::size_t worker)>;
    using Consume = std::function<Status(std::size_t slot)>;

    // `threads` workers (1 = inline) and the number of job slots in flight.
    OrderedPipeline(std::size_t threads, std::size_t slots);
    ~OrderedPipeline();
    OrderedPipeline(const OrderedPipeline&) = delete;
    OrderedPipeline& operator=(const OrderedPipeline&) = delete;

    std::size_t slots() const { return slots_; }
    std::size_t workers() const { return threads_; }

    // Runs until production ends or a stage fails; returns the failure of the earliest
    // job, whichever stage it met (a job that cannot be produced counts only once every
    // earlier one is consumed). `failedJob` receives the index of the job that failed;
    // every job before it was consumed, in order, whatever the thread count. While
    // `hold` (when given) is true, no job is produced until every job before is consumed.
    using Hold = std::function<bool()>;
    Status Run(const Produce& produce, const Work& work, const Consume& consume, std::size_t& failedJob,
               const Hold& hold = nullptr);

private:
    void WorkerLoop(std::size_t worker);

    std::size_t threads_;
    std::size_t slots_;
    std::vector<std::thread> pool_;
    std::mutex mutex_;
    std::condition_variable wake_;   // workers: a job was queued or the pool stops
    std::condition_variable done_;   // producer: a job finished
    std::vector<std::size_t> queue_;  // slots waiting for a worker, oldest first
    std::vector<int> state_;          // per slot: 0 free, 1 queued or running, 2 done
    std::vector<Status> result_;
    const Work* work_ = nullptr;
    bool stop_ = false;
};

}  // namespace orsk
