// The stand-in's clocks: a steady wall clock, and the CPU time of the whole
// process (every thread), as the benchmarks' CPU column reports it.
#include <chrono>

#include "benchmark/benchmark.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <time.h>
#endif

namespace benchmark::internal {

double wallSeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

double processCpuSeconds() {
#ifdef _WIN32
    FILETIME creation, exit, kernel, user;
    if (!GetProcessTimes(GetCurrentProcess(), &creation, &exit, &kernel, &user)) return 0;
    // FILETIME counts 100 ns ticks.
    auto ticks = [](const FILETIME& t) {
        return static_cast<double>((static_cast<std::uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime);
    };
    return (ticks(kernel) + ticks(user)) * 1e-7;
#else
    timespec t{};
    if (clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t) != 0) return 0;
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
#endif
}

}  // namespace benchmark::internal
