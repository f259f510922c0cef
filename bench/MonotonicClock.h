#pragma once

#include <cstdint>

// CLOCK_MONOTONIC in nanoseconds: the one clock that every benchmark program, and the stand-in
// game's run record, read, so that times taken in different processes can be subtracted.
namespace MonotonicClock {
std::int64_t nowNs();
double secondsBetween(std::int64_t startNs, std::int64_t endNs);
double millisecondsBetween(std::int64_t startNs, std::int64_t endNs);
// User plus system CPU time of this whole process (every thread) so far. Unlike wall time it
// hardly depends on what else the machine is doing.
std::int64_t processCpuNs();
// The same for the calling thread alone.
std::int64_t threadCpuNs();
} // namespace MonotonicClock
