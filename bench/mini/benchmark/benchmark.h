// A small stand-in for the part of the Google Benchmark API that bench/*.cpp
// uses, for the builds that have no Google Benchmark (the mingw build). The
// same names, flags and console lines, so that the Windows figures sit beside
// the native ones:
//   --benchmark_filter=REGEX               searched for in the full name
//   --benchmark_repetitions=N              N runs of each case
//   --benchmark_report_aggregates_only=B   print only mean, median, stddev, cv
//   --benchmark_min_time=SECONDS[s] | Nx   each run lasts at least this long
//                                          (0.5 s), or exactly N iterations
//   --benchmark_list_tests=B               print the names, run nothing
// A run starts at one iteration and grows the count until its time (CPU time,
// or wall time with UseRealTime, or the SetIterationTime sum with
// UseManualTime) reaches the minimum; later repetitions keep that count.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace benchmark {

using IterationCount = std::int64_t;

enum TimeUnit { kNanosecond, kMicrosecond, kMillisecond, kSecond };

namespace internal {
class Benchmark;
// Wall seconds from a steady clock; CPU seconds of the whole process.
double wallSeconds();
double processCpuSeconds();
}  // namespace internal

class State {
public:
    State(std::vector<std::int64_t> args, IterationCount maxIterations)
        : args_(std::move(args)), max_(maxIterations) {}

    // `for (auto _ : state)`: the timer runs from begin() until the loop ends.
    // Variables of this type may go unused (`_`): no warning for them.
    struct [[maybe_unused]] Value {};
    class iterator {
    public:
        explicit iterator(State* s) : s_(s) {}
        Value operator*() const { return {}; }
        iterator& operator++() {
            --s_->remaining_;
            return *this;
        }
        bool operator!=(const iterator&) const {
            if (s_->remaining_ > 0 && !s_->error_) return true;
            s_->finishLoop();
            return false;
        }

    private:
        State* s_;
    };
    iterator begin() {
        startLoop();
        return iterator(this);
    }
    iterator end() { return iterator(this); }

    std::int64_t range(std::size_t i = 0) const { return args_.at(i); }
    // Iterations done so far; after the loop, all of them.
    IterationCount iterations() const { return started_ ? max_ - remaining_ : 0; }
    IterationCount max_iterations() const { return max_; }

    void PauseTiming();
    void ResumeTiming();
    // Manual time of one iteration, summed over the run (UseManualTime).
    void SetIterationTime(double seconds) { manual_ += seconds; }

    void SetItemsProcessed(std::int64_t n) { items_ = n; }
    void SetBytesProcessed(std::int64_t n) { bytes_ = n; }
    std::int64_t items_processed() const { return items_; }
    std::int64_t bytes_processed() const { return bytes_; }
    void SetLabel(const std::string& label) { label_ = label; }
    // Ends the loop at its next check; the run is reported as an error, not
    // measured. The first message is kept.
    void SkipWithError(const std::string& message);

    std::map<std::string, double> counters;

    // What the runner reads after the benchmark function returns.
    bool error() const { return error_; }
    const std::string& errorMessage() const { return errorMessage_; }
    const std::string& label() const { return label_; }
    double realSeconds() const { return real_; }
    double cpuSeconds() const { return cpu_; }
    double manualSeconds() const { return manual_; }

private:
    void startLoop();
    void finishLoop();

    std::vector<std::int64_t> args_;
    IterationCount max_;
    IterationCount remaining_ = 0;
    bool started_ = false, finished_ = false, timing_ = false, error_ = false;
    std::string errorMessage_, label_;
    double realStart_ = 0, cpuStart_ = 0, real_ = 0, cpu_ = 0, manual_ = 0;
    std::int64_t items_ = 0, bytes_ = 0;
};

namespace internal {

using Function = void (*)(State&);

// One family of cases: a function and its argument rows.
class Benchmark {
public:
    Benchmark(std::string name, Function fn) : name_(std::move(name)), fn_(fn) {}

    Benchmark* Arg(std::int64_t x) { return Args({x}); }
    Benchmark* Args(const std::vector<std::int64_t>& row) {
        args_.push_back(row);
        return this;
    }
    // Every combination, the last list changing fastest.
    Benchmark* ArgsProduct(const std::vector<std::vector<std::int64_t>>& lists);
    Benchmark* ArgName(const std::string& name) { return ArgNames({name}); }
    Benchmark* ArgNames(const std::vector<std::string>& names) {
        argNames_ = names;
        return this;
    }
    Benchmark* Apply(void (*fn)(Benchmark*)) {
        fn(this);
        return this;
    }
    Benchmark* Unit(TimeUnit unit) {
        unit_ = unit;
        return this;
    }
    Benchmark* UseRealTime() {
        realTime_ = true;
        return this;
    }
    Benchmark* UseManualTime() {
        manualTime_ = true;
        return this;
    }
    Benchmark* Iterations(IterationCount n) {
        iterations_ = n;
        return this;
    }

    const std::string& name() const { return name_; }
    Function function() const { return fn_; }
    const std::vector<std::vector<std::int64_t>>& args() const { return args_; }
    const std::vector<std::string>& argNames() const { return argNames_; }
    TimeUnit unit() const { return unit_; }
    bool realTime() const { return realTime_; }
    bool manualTime() const { return manualTime_; }
    IterationCount iterations() const { return iterations_; }

private:
    std::string name_;
    Function fn_;
    std::vector<std::vector<std::int64_t>> args_;
    std::vector<std::string> argNames_;
    TimeUnit unit_ = kNanosecond;
    bool realTime_ = false, manualTime_ = false;
    IterationCount iterations_ = 0;  // 0: grown until the minimum time
};

// Keeps the family for RunSpecifiedBenchmarks; the pointer stays valid.
Benchmark* registerBenchmark(const char* name, Function fn);

}  // namespace internal

// Reads and removes the flags above from argv.
void Initialize(int* argc, char** argv);
// Prints what Initialize left besides the program name; true when it left any.
bool ReportUnrecognizedArguments(int argc, char** argv);
// Runs the cases whose names match the filter; returns how many ran.
std::size_t RunSpecifiedBenchmarks();
void Shutdown();

// Makes the compiler believe that `value` is read (and, when it is not
// const, written), so that the work producing it is kept.
template <class T>
inline void DoNotOptimize(const T& value) {
    asm volatile("" : : "m"(value) : "memory");
}
template <class T>
inline void DoNotOptimize(T& value) {
    asm volatile("" : "+m"(value) : : "memory");
}
// Makes the compiler believe that all memory is read and written.
inline void ClobberMemory() { asm volatile("" : : : "memory"); }

}  // namespace benchmark

#define BENCHMARK_PRIVATE_CONCAT2(a, b) a##b
#define BENCHMARK_PRIVATE_CONCAT(a, b) BENCHMARK_PRIVATE_CONCAT2(a, b)
#define BENCHMARK(fn)                                                                                 \
    [[maybe_unused]] static ::benchmark::internal::Benchmark* BENCHMARK_PRIVATE_CONCAT(benchmarkOf_, \
                                                                                       __COUNTER__) = \
        ::benchmark::internal::registerBenchmark(#fn, fn)
