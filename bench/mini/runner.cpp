// The stand-in's state, registry, flags and run loop (benchmark/benchmark.h).
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <regex>
#include <string_view>
#include <thread>

#include "benchmark/benchmark.h"
#include "report.h"

namespace benchmark {

// --- the state of one run ----------------------------------------------------

void State::startLoop() {
    if (started_) return;
    started_ = true;
    remaining_ = error_ ? 0 : max_;
    ResumeTiming();
}

void State::finishLoop() {
    if (finished_) return;
    finished_ = true;
    PauseTiming();
}

void State::PauseTiming() {
    if (!timing_) return;
    timing_ = false;
    real_ += internal::wallSeconds() - realStart_;
    cpu_ += internal::processCpuSeconds() - cpuStart_;
}

void State::ResumeTiming() {
    if (timing_ || finished_) return;
    timing_ = true;
    realStart_ = internal::wallSeconds();
    cpuStart_ = internal::processCpuSeconds();
}

void State::SkipWithError(const std::string& message) {
    if (!error_) errorMessage_ = message;
    error_ = true;
}

namespace internal {

Benchmark* Benchmark::ArgsProduct(const std::vector<std::vector<std::int64_t>>& lists) {
    if (lists.empty() || std::any_of(lists.begin(), lists.end(), [](const auto& l) { return l.empty(); }))
        return this;
    std::vector<std::size_t> at(lists.size(), 0);
    for (;;) {
        std::vector<std::int64_t> row;
        for (std::size_t i = 0; i < lists.size(); ++i) row.push_back(lists[i][at[i]]);
        args_.push_back(std::move(row));
        std::size_t i = lists.size();
        while (i > 0 && ++at[i - 1] == lists[i - 1].size()) at[--i] = 0;
        if (i == 0) return this;
    }
}

namespace {

std::vector<std::unique_ptr<Benchmark>>& families() {
    static std::vector<std::unique_ptr<Benchmark>> all;
    return all;
}

struct Flags {
    std::string filter = ".";
    int repetitions = 1;
    bool aggregatesOnly = false;
    double minTime = 0.5;
    IterationCount minIterations = 0;  // from --benchmark_min_time=Nx
    bool listTests = false;
};

Flags& flags() {
    static Flags f;
    return f;
}

[[noreturn]] void badFlag(std::string_view arg) {
    std::fprintf(stderr, "invalid flag value: %.*s\n", static_cast<int>(arg.size()), arg.data());
    std::exit(1);
}

bool parseBool(std::string_view v, std::string_view arg) {
    if (v == "" || v == "true" || v == "1" || v == "yes") return true;
    if (v == "false" || v == "0" || v == "no") return false;
    badFlag(arg);
}

// "VALUE" of "--NAME=VALUE", or of a bare "--NAME" (an empty value); false
// when `arg` is another flag.
bool flagValue(std::string_view arg, std::string_view name, std::string_view& value) {
    if (arg.substr(0, 2) != "--" || arg.substr(2, name.size()) != name) return false;
    const std::string_view rest = arg.substr(2 + name.size());
    if (rest.empty() || rest[0] == '=') {
        value = rest.empty() ? rest : rest.substr(1);
        return true;
    }
    return false;
}

bool parseFlag(std::string_view arg) {
    Flags& f = flags();
    std::string_view v;
    if (flagValue(arg, "benchmark_filter", v)) {
        f.filter = v.empty() || v == "all" ? "." : std::string(v);
    } else if (flagValue(arg, "benchmark_repetitions", v)) {
        char* end = nullptr;
        const std::string s(v);
        const long n = std::strtol(s.c_str(), &end, 10);
        if (s.empty() || *end || n < 1 || n > 1000000) badFlag(arg);
        f.repetitions = static_cast<int>(n);
    } else if (flagValue(arg, "benchmark_report_aggregates_only", v) ||
               flagValue(arg, "benchmark_display_aggregates_only", v)) {
        f.aggregatesOnly = parseBool(v, arg);
    } else if (flagValue(arg, "benchmark_min_time", v)) {
        std::string s(v);
        const bool count = !s.empty() && s.back() == 'x';
        if (!s.empty() && (count || s.back() == 's')) s.pop_back();
        char* end = nullptr;
        const double x = std::strtod(s.c_str(), &end);
        if (s.empty() || *end || !(x >= 0) || (count && (x < 1 || x > 1e12))) badFlag(arg);
        if (count) {
            f.minIterations = static_cast<IterationCount>(x);
        } else {
            f.minTime = x;
            f.minIterations = 0;
        }
    } else if (flagValue(arg, "benchmark_list_tests", v)) {
        f.listTests = parseBool(v, arg);
    } else {
        return false;
    }
    return true;
}

// --- running -----------------------------------------------------------------

constexpr IterationCount kMaxIterations = 1000000000;

struct Case {
    const Benchmark* family;
    std::vector<std::int64_t> row;
    std::string name;
};

Measurement runOnce(const Case& c, IterationCount iterations) {
    State state(c.row, iterations);
    c.family->function()(state);
    return measured(c.name, *c.family, state);
}

// The seconds that decide whether a run was long enough.
double drivingSeconds(const Case& c, const Measurement& r) {
    const double n = static_cast<double>(r.iterations);
    return (c.family->manualTime() || c.family->realTime() ? r.time : r.cpu) * n;
}

// Grows the iteration count until a run lasts the minimum time; returns that
// run and its count.
Measurement calibratedRun(const Case& c, IterationCount& iterations) {
    const Flags& f = flags();
    if (c.family->iterations() > 0 || f.minIterations > 0) {
        iterations = c.family->iterations() > 0 ? c.family->iterations() : f.minIterations;
        return runOnce(c, iterations);
    }
    iterations = 1;
    for (;;) {
        Measurement r = runOnce(c, iterations);
        const double seconds = drivingSeconds(c, r);
        if (r.error || seconds >= f.minTime || iterations >= kMaxIterations) return r;
        // Aim 40 % past the minimum; grow at most tenfold while the run is
        // under a tenth of it, since so short a time says little.
        double multiplier = f.minTime * 1.4 / std::max(seconds, 1e-9);
        if (seconds < f.minTime / 10) multiplier = std::min(multiplier, 10.0);
        const double next = std::max(static_cast<double>(iterations) * multiplier, static_cast<double>(iterations) + 1);
        iterations = static_cast<IterationCount>(std::min(next, static_cast<double>(kMaxIterations)));
    }
}

std::vector<Case> selectedCases() {
    std::regex filter;
    bool negative = false;
    try {
        std::string pattern = flags().filter;
        negative = !pattern.empty() && pattern[0] == '-';
        if (negative) pattern.erase(0, 1);
        filter = std::regex(pattern);
    } catch (const std::regex_error&) {
        std::fprintf(stderr, "invalid --benchmark_filter: %s\n", flags().filter.c_str());
        std::exit(1);
    }
    std::vector<Case> cases;
    for (const auto& family : families()) {
        std::vector<std::vector<std::int64_t>> rows = family->args();
        if (rows.empty()) rows.emplace_back();
        for (auto& row : rows) {
            Case c{family.get(), std::move(row), {}};
            c.name = caseName(*family, c.row);
            if (std::regex_search(c.name, filter) != negative) cases.push_back(std::move(c));
        }
    }
    return cases;
}

void printContext(std::size_t nameWidth) {
    char date[64] = "";
    const std::time_t now = std::time(nullptr);
    if (const std::tm* t = std::localtime(&now)) std::strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%S", t);
    std::printf("%s\n", date);
    std::printf("Measurement on (%u X CPU s), stand-in runner\n", std::thread::hardware_concurrency());
    const std::string rule(nameWidth + 50, '-');
    std::string head = "Benchmark";
    head.append(nameWidth > head.size() ? nameWidth - head.size() : 0, ' ');
    std::printf("%s\n%s %13s %15s %12s UserCounters...\n%s\n", rule.c_str(), head.c_str(), "Time", "CPU",
                "Iterations", rule.c_str());
    std::fflush(stdout);
}

void print(const Measurement& r, std::size_t nameWidth) {
    std::printf("%s\n", consoleLine(r, nameWidth).c_str());
    std::fflush(stdout);
}

}  // namespace

Benchmark* registerBenchmark(const char* name, Function fn) {
    families().push_back(std::make_unique<Benchmark>(name, fn));
    return families().back().get();
}

}  // namespace internal

void Initialize(int* argc, char** argv) {
    int kept = 1;
    for (int i = 1; i < *argc; ++i)
        if (!internal::parseFlag(argv[i])) argv[kept++] = argv[i];
    for (int i = kept; i < *argc; ++i) argv[i] = nullptr;
    *argc = std::min(*argc, kept);
}

bool ReportUnrecognizedArguments(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) std::fprintf(stderr, "%s: error: unrecognized command-line flag: %s\n", argv[0], argv[i]);
    return argc > 1;
}

std::size_t RunSpecifiedBenchmarks() {
    using namespace internal;
    const Flags& f = flags();
    const std::vector<Case> cases = selectedCases();
    if (f.listTests) {
        for (const Case& c : cases) std::printf("%s\n", c.name.c_str());
        return cases.size();
    }
    std::size_t nameWidth = 10;
    for (const Case& c : cases) nameWidth = std::max(nameWidth, c.name.size() + (f.repetitions > 1 ? 7 : 0));
    printContext(nameWidth);
    for (const Case& c : cases) {
        IterationCount iterations = 0;
        std::vector<Measurement> runs{calibratedRun(c, iterations)};
        // A case that failed once is not repeated.
        for (int i = 1; i < f.repetitions && !runs.front().error; ++i) runs.push_back(runOnce(c, iterations));
        const std::vector<Measurement> stats = aggregates(runs);
        // Failed runs are always shown: no aggregate stands for them.
        for (const Measurement& r : runs)
            if (!f.aggregatesOnly || stats.empty() || r.error) print(r, nameWidth);
        for (const Measurement& r : stats) print(r, nameWidth);
    }
    return cases.size();
}

void Shutdown() { internal::families().clear(); }

}  // namespace benchmark
