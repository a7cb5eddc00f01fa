#pragma once

// The CPU time this process has used, for the benchmarks' figures.

#include <sys/resource.h>

namespace modburn::bench {

// CPU time this process has used so far, user and system, in milliseconds.
inline double CpuMs()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
}

}  // namespace modburn::bench
