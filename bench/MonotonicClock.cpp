#include "MonotonicClock.h"

#include <ctime>

namespace MonotonicClock {

std::int64_t nowNs()
{
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return std::int64_t(now.tv_sec) * 1000000000 + now.tv_nsec;
}

double secondsBetween(std::int64_t startNs, std::int64_t endNs)
{
    return double(endNs - startNs) / 1e9;
}

std::int64_t processCpuNs()
{
    timespec used{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &used);
    return std::int64_t(used.tv_sec) * 1000000000 + used.tv_nsec;
}

std::int64_t threadCpuNs()
{
    timespec used{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &used);
    return std::int64_t(used.tv_sec) * 1000000000 + used.tv_nsec;
}

double millisecondsBetween(std::int64_t startNs, std::int64_t endNs)
{
    return double(endNs - startNs) / 1e6;
}

} // namespace MonotonicClock
