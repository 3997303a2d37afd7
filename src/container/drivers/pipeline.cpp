// Ordered pipeline over a fixed pool of worker threads.
#include "container/drivers/pipeline.h"

#include <algorithm>

namespace orsk {

OrderedPipeline::OrderedPipeline(std::size_t threads, std::size_t slots)
    : threads_(std::max<std::size_t>(threads, 1)), slots_(std::max<std::size_t>(slots, 1)),
      state_(slots_, 0), result_(slots_, Status::Ok) {
    if (threads_ > 1) {
        for (std::size_t w = 0; w < threads_; ++w) pool_.emplace_back([this, w] { WorkerLoop(w); });
    }
}

OrderedPipeline::~OrderedPipeline() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    for (auto& t : pool_) t.join();
}

void OrderedPipeline::WorkerLoop(std::size_t worker) {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait(lock, [&] { return stop_ || !queue_.empty(); });
        if (stop_) return;
        const std::size_t slot = queue_.front();
        queue_.erase(queue_.begin());
        const Work* work = work_;
        lock.unlock();
        const Status s = (*work)(slot, worker);
        lock.lock();
        result_[slot] = s;
        state_[slot] = 2;
        done_.notify_all();
    }
}

Status OrderedPipeline::Run(const Produce& produce, const Work& work, const Consume& consume, std::size_t& failedJob,
                            const Hold& hold) {
    std::size_t produced = 0, consumed = 0;
    bool more = true;
    Status failure = Status::Ok;
    if (threads_ == 1) {
        for (;; ++produced) {
            if (Status s = produce(0, more); s != Status::Ok || !more) {
                failure = s;
                break;
            }
            if (Status s = work(0, 0); s != Status::Ok) {
                failure = s;
                break;
            }
            if (Status s = consume(0); s != Status::Ok) {
                failure = s;
                break;
            }
        }
        failedJob = produced;
        return failure;
    }

    work_ = &work;
    // A job that cannot be produced is reported only once every job before it has been
    // worked and consumed: a failure of an earlier job comes first in job order.
    Status produceFailure = Status::Ok;
    for (;;) {
        // Keep every slot busy while input lasts, unless the next job must wait for the
        // results of those in flight.
        while (more && produced - consumed < slots_ && (produced == consumed || !hold || !hold())) {
            const std::size_t slot = produced % slots_;
            if (Status s = produce(slot, more); s != Status::Ok) {
                produceFailure = s;
                more = false;
                break;
            }
            if (!more) break;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                state_[slot] = 1;
                queue_.push_back(slot);
            }
            wake_.notify_one();
            ++produced;
        }
        if (consumed == produced) break;
        // Results leave in input order.
        const std::size_t slot = consumed % slots_;
        Status s;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            done_.wait(lock, [&] { return state_[slot] == 2; });
            state_[slot] = 0;
            s = result_[slot];
        }
        if (s == Status::Ok) s = consume(slot);
        if (s != Status::Ok) {
            failure = s;
            break;
        }
        ++consumed;
    }
    failedJob = consumed;
    if (failure == Status::Ok) failure = produceFailure;  // every job before it was consumed
    // Let jobs still running finish before their slots go away.
    std::unique_lock<std::mutex> lock(mutex_);
    for (std::size_t slot : queue_) state_[slot] = 0;  // never started
    queue_.clear();
    done_.wait(lock, [&] { return std::none_of(state_.begin(), state_.end(), [](int st) { return st == 1; }); });
    std::fill(state_.begin(), state_.end(), 0);
    return failure;
}

}  // namespace orsk
