// The library's threads: a task runner whose jobs run on the calling thread
// and on helper threads that live as long as the pool.
#ifndef VELVANE_LIBRARY_THREAD_POOL_H
#define VELVANE_LIBRARY_THREAD_POOL_H

#include <stdint.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "common/tasks.h"

namespace velvane {

// Threads the processor offers this process (its affinity mask), at least 1.
int processorThreads();

class ThreadPool {
public:
    // `threads` workers in all: the thread that runs a batch is worker 0, and
    // threads - 1 helpers start here. Throws std::system_error when one
    // cannot start (those started are stopped first).
    explicit ThreadPool(int threads);
    ~ThreadPool();
    ThreadPool(const ThreadPool &) = delete;
    ThreadPool &operator=(const ThreadPool &) = delete;

    // Runs batches from one thread at a time.
    TaskRunner runner() { return TaskRunner{run, this, (int32_t)helpers_.size() + 1}; }

private:
    struct Batch {
        uint32_t generation;
        TaskJobFn job;
        void *context;
        int32_t count;
    };
    static void run(void *self, int32_t count, TaskJobFn job, void *context);
    void helper(int32_t worker);
    // Claims and runs jobs of batch b until none is left.
    void drain(const Batch &b, int32_t worker);
    void stop();

    std::mutex mutex_;
    std::condition_variable wake_, finished_;
    Batch batch_ = {0, nullptr, nullptr, 0}; // the newest batch, under mutex_
    std::atomic<uint32_t> published_{0};     // its generation, for helpers that spin
    // Claims: the batch's generation in the high half, its next job in the low
    // half, so that a helper late from an earlier batch claims nothing.
    std::atomic<uint64_t> claim_{0};
    std::atomic<int32_t> done_{0}; // jobs of the batch finished
    bool stopping_ = false;
    std::vector<std::thread> helpers_;
};

} // namespace velvane

#endif
