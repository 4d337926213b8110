// The stand-in's results and their console lines: what one run measured,
// the statistics over repetitions, and the text of each line.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "benchmark/benchmark.h"

namespace benchmark::internal {

// One line of the output: a run, or an aggregate of runs.
struct Measurement {
    std::string name;
    IterationCount iterations = 0;  // of an aggregate: how many runs it covers
    double time = 0, cpu = 0;       // seconds per iteration (cv: a fraction)
    TimeUnit unit = kNanosecond;
    std::map<std::string, double> counters;  // rates included, per second
    std::string label;
    bool error = false;
    std::string errorMessage;
    bool relative = false;  // a coefficient of variation: printed in percent
};

// The family name, then "/value" or "/argname:value" per argument, then
// "/iterations:N", "/manual_time" or "/real_time" where they apply.
std::string caseName(const Benchmark& family, const std::vector<std::int64_t>& row);

// What the state of a finished run measured. The time per iteration is the
// manual time with UseManualTime, else the wall time; the rates divide by
// the time that drove the run (manual, wall with UseRealTime, else CPU).
Measurement measured(const std::string& name, const Benchmark& family, const State& state);

// name_mean, name_median, name_stddev and name_cv over the runs that did not
// fail; none when fewer than two did not.
std::vector<Measurement> aggregates(const std::vector<Measurement>& runs);

// A value to six significant digits with a decimal prefix: 1234567 is
// "1.23457M" (k, M, G, T, P), 0.00125 is "1.25m" (m, u, n, p).
std::string humanReadable(double value);

// The console line of a run, the name padded to `nameWidth`.
std::string consoleLine(const Measurement& run, std::size_t nameWidth);

}  // namespace benchmark::internal
