// What a test host prints: each line begins with its name, and every failed
// check is counted, so the run can end with the number of failures.
#ifndef VELVANE_WINTEST_HOST_REPORT_H
#define VELVANE_WINTEST_HOST_REPORT_H

#include <stdarg.h>
#include <stdio.h>

namespace host_report {

// Set by each host to its own name before the first line.
inline const char *name = "host";
inline int failures = 0;

inline void vline(const char *tag, const char *fmt, va_list ap)
{
    fprintf(stdout, "%s: %s", name, tag);
    vfprintf(stdout, fmt, ap);
    fputc('\n', stdout);
    fflush(stdout);
}

#if !defined(_WIN32)
inline void say(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
inline void fail(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
#endif

inline void say(const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    vline("", fmt, ap);
    va_end(ap);
}

inline void fail(const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    vline("FAIL: ", fmt, ap);
    va_end(ap);
    failures++;
}

} // namespace host_report

#define CHECK(cond, ...)                                                                                              \
    do {                                                                                                              \
        if (!(cond))                                                                                                  \
            host_report::fail(__VA_ARGS__);                                                                           \
    } while (0)

#endif
