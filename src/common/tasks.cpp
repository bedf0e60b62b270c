#include "common/tasks.h"

namespace velvane {
namespace {

void runInOrder(void *, int32_t count, TaskJobFn job, void *context)
{
    for (int32_t i = 0; i < count; i++)
        job(context, i, 0);
}

} // namespace

TaskRunner serialTasks() { return TaskRunner{runInOrder, nullptr, 1}; }

} // namespace velvane
