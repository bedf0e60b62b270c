#include "library/thread_pool.h"

#include <sched.h>

#include <chrono>

namespace velvane {
namespace {

using Clock = std::chrono::steady_clock;

// Batches of one frame follow each other within microseconds: a worker that
// has just finished one keeps looking for the next this long before it
// sleeps, which costs far less than a wake-up.
constexpr auto kSpin = std::chrono::microseconds(50);

inline void relax()
{
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
}

} // namespace

int processorThreads()
{
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof set, &set) == 0) {
        const int n = CPU_COUNT(&set);
        if (n > 0)
            return n;
    }
    const unsigned n = std::thread::hardware_concurrency();
    return n > 0 ? (int)n : 1;
}

ThreadPool::ThreadPool(int threads)
{
    try {
        for (int w = 1; w < threads; w++)
            helpers_.emplace_back([this, w] { helper(w); });
    } catch (...) {
        stop();
        throw;
    }
}

ThreadPool::~ThreadPool() { stop(); }

void ThreadPool::stop()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    for (std::thread &t : helpers_)
        t.join();
    helpers_.clear();
}

void ThreadPool::drain(const Batch &b, int32_t worker)
{
    const uint64_t mine = (uint64_t)b.generation << 32;
    uint64_t c = claim_.load(std::memory_order_relaxed);
    while ((c & ~(uint64_t)0xFFFFFFFF) == mine && (int32_t)(uint32_t)c < b.count) {
        if (!claim_.compare_exchange_weak(c, c + 1, std::memory_order_acq_rel, std::memory_order_relaxed))
            continue;
        b.job(b.context, (int32_t)(uint32_t)c, worker);
        if (done_.fetch_add(1, std::memory_order_acq_rel) + 1 == b.count) {
            { std::lock_guard<std::mutex> lock(mutex_); }
            finished_.notify_one();
        }
        c = claim_.load(std::memory_order_relaxed);
    }
}

void ThreadPool::run(void *self, int32_t count, TaskJobFn job, void *context)
{
    ThreadPool &p = *static_cast<ThreadPool *>(self);
    if (count <= 0)
        return;
    if (p.helpers_.empty() || count == 1) {
        for (int32_t i = 0; i < count; i++)
            job(context, i, 0);
        return;
    }
    Batch b;
    {
        std::lock_guard<std::mutex> lock(p.mutex_);
        b = {p.batch_.generation + 1, job, context, count};
        p.batch_ = b;
        p.done_.store(0, std::memory_order_relaxed);
        p.claim_.store((uint64_t)b.generation << 32, std::memory_order_release);
        p.published_.store(b.generation, std::memory_order_release);
    }
    p.wake_.notify_all();
    p.drain(b, 0);
    // The last jobs may still run on helpers.
    const auto until = Clock::now() + kSpin;
    while (p.done_.load(std::memory_order_acquire) != count && Clock::now() < until)
        relax();
    if (p.done_.load(std::memory_order_acquire) != count) {
        std::unique_lock<std::mutex> lock(p.mutex_);
        p.finished_.wait(lock, [&] { return p.done_.load(std::memory_order_acquire) == count; });
    }
}

void ThreadPool::helper(int32_t worker)
{
    uint32_t seen = 0;
    for (;;) {
        const auto until = Clock::now() + kSpin;
        while (published_.load(std::memory_order_acquire) == seen && Clock::now() < until)
            relax();
        Batch b;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait(lock, [&] { return stopping_ || batch_.generation != seen; });
            if (stopping_)
                return;
            b = batch_;
        }
        seen = b.generation;
        drain(b, worker);
    }
}

} // namespace velvane
