// Work split into jobs that may run at once, on whatever threads the host
// gives. The processing only splits its stages into independent jobs; the
// plug-in runs them on the host's thread, the library on a pool of its own.
#ifndef VELVANE_COMMON_TASKS_H
#define VELVANE_COMMON_TASKS_H

#include <stdint.h>

namespace velvane {

using TaskJobFn = void (*)(void *context, int32_t index, int32_t worker);

struct TaskRunner {
    // Calls job(context, i, worker) once for every i in 0 .. count - 1 and
    // returns when every call has returned. Calls may overlap and come in any
    // order. `worker` lies below `workers`, and calls that share it never
    // overlap, so memory kept per worker serves one job at a time.
    void (*run)(void *self, int32_t count, TaskJobFn job, void *context);
    void *self;
    int32_t workers;
};

// Every job on the calling thread, in order, as worker 0.
TaskRunner serialTasks();

// run() with a callable f(index, worker).
template <class F> void runTasks(const TaskRunner &tasks, int32_t count, F &f)
{
    if (count <= 0)
        return;
    tasks.run(tasks.self, count, [](void *c, int32_t i, int32_t w) { (*static_cast<F *>(c))(i, w); }, &f);
}

// Slice i of `count` even-sized pieces of [0, total): piece boundaries are
// even, so each holds whole pairs of field lines (but the last when total is
// odd).
struct Span {
    int32_t begin, end;
};
inline Span slice(int32_t total, int32_t count, int32_t i)
{
    const int32_t pairs = (total + 1) / 2;
    const int32_t begin = 2 * (int32_t)((int64_t)pairs * i / count);
    const int32_t end = 2 * (int32_t)((int64_t)pairs * (i + 1) / count);
    return {begin, end < total ? end : total};
}

// How many slices of at least `minimum` rows each to cut `total` rows into
// for `workers`: a few per worker, so that one slowed by other work on the
// machine holds the rest up less.
inline int32_t sliceCount(int32_t total, int32_t workers, int32_t minimum)
{
    if (workers <= 1)
        return 1;
    int32_t n = workers * 4;
    const int32_t most = total / minimum;
    if (n > most)
        n = most;
    return n < 1 ? 1 : n;
}

} // namespace velvane

#endif
