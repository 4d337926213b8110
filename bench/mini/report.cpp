#include "report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace benchmark::internal {

namespace {

double perUnit(TimeUnit unit) {
    switch (unit) {
        case kNanosecond: return 1e9;
        case kMicrosecond: return 1e6;
        case kMillisecond: return 1e3;
        case kSecond: return 1;
    }
    return 1e9;
}

const char* unitName(TimeUnit unit) {
    switch (unit) {
        case kNanosecond: return "ns";
        case kMicrosecond: return "us";
        case kMillisecond: return "ms";
        case kSecond: return "s";
    }
    return "ns";
}

// Three significant digits or more, never in exponent form; percentages
// with two decimals.
std::string fixed(double v, int width, bool percent = false) {
    const double a = std::fabs(v);
    const int decimals = percent ? 2 : a >= 100 ? 0 : a >= 10 ? 1 : a >= 1 ? 2 : 3;
    char buf[64];
    std::snprintf(buf, sizeof buf, "%*.*f", width, decimals, v);
    return buf;
}

double mean(const std::vector<double>& v) {
    double sum = 0;
    for (double x : v) sum += x;
    return v.empty() ? 0 : sum / static_cast<double>(v.size());
}

double median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// The sample standard deviation (n − 1).
double stddev(const std::vector<double>& v) {
    if (v.size() < 2) return 0;
    const double m = mean(v);
    double sum = 0;
    for (double x : v) sum += (x - m) * (x - m);
    return std::sqrt(sum / static_cast<double>(v.size() - 1));
}

double cv(const std::vector<double>& v) {
    const double m = mean(v);
    return m == 0 ? 0 : stddev(v) / m;
}

}  // namespace

std::string caseName(const Benchmark& family, const std::vector<std::int64_t>& row) {
    std::string name = family.name();
    for (std::size_t i = 0; i < row.size(); ++i) {
        name += '/';
        if (i < family.argNames().size() && !family.argNames()[i].empty()) name += family.argNames()[i] + ':';
        name += std::to_string(row[i]);
    }
    if (family.iterations() > 0) name += "/iterations:" + std::to_string(family.iterations());
    if (family.manualTime())
        name += "/manual_time";
    else if (family.realTime())
        name += "/real_time";
    return name;
}

Measurement measured(const std::string& name, const Benchmark& family, const State& state) {
    Measurement run;
    run.name = name;
    run.unit = family.unit();
    run.label = state.label();
    run.error = state.error();
    run.errorMessage = state.errorMessage();
    run.iterations = state.iterations();
    if (run.error || run.iterations <= 0) {
        run.error = true;
        if (run.errorMessage.empty()) run.errorMessage = "no iterations ran";
        return run;
    }
    const double n = static_cast<double>(run.iterations);
    const double wall = family.manualTime() ? state.manualSeconds() : state.realSeconds();
    run.time = wall / n;
    run.cpu = state.cpuSeconds() / n;
    const double rateSeconds = family.manualTime() || family.realTime() ? wall : state.cpuSeconds();
    run.counters = state.counters;
    if (rateSeconds > 0) {
        if (state.bytes_processed() > 0)
            run.counters["bytes_per_second"] = static_cast<double>(state.bytes_processed()) / rateSeconds;
        if (state.items_processed() > 0)
            run.counters["items_per_second"] = static_cast<double>(state.items_processed()) / rateSeconds;
    }
    return run;
}

std::vector<Measurement> aggregates(const std::vector<Measurement>& runs) {
    std::vector<const Measurement*> ok;
    for (const Measurement& r : runs)
        if (!r.error) ok.push_back(&r);
    if (ok.size() < 2) return {};

    auto column = [&](auto pick) {
        std::vector<double> v;
        for (const Measurement* r : ok) v.push_back(pick(*r));
        return v;
    };
    const std::vector<double> times = column([](const Measurement& r) { return r.time; });
    const std::vector<double> cpus = column([](const Measurement& r) { return r.cpu; });

    struct Statistic {
        const char* suffix;
        double (*of)(const std::vector<double>&);
        bool relative;
    };
    static const Statistic kStatistics[] = {
        {"_mean", mean, false},
        {"_median", [](const std::vector<double>& v) { return median(v); }, false},
        {"_stddev", stddev, false},
        {"_cv", cv, true},
    };
    std::vector<Measurement> out;
    for (const Statistic& s : kStatistics) {
        Measurement a;
        a.name = ok.front()->name + s.suffix;
        a.iterations = static_cast<IterationCount>(ok.size());
        a.unit = ok.front()->unit;
        a.label = ok.front()->label;
        a.relative = s.relative;
        a.time = s.of(times);
        a.cpu = s.of(cpus);
        // A counter missing from some run counts as zero there.
        for (const auto& counter : ok.front()->counters) {
            const std::string& key = counter.first;
            a.counters[key] = s.of(column([&key](const Measurement& r) {
                const auto it = r.counters.find(key);
                return it == r.counters.end() ? 0.0 : it->second;
            }));
        }
        out.push_back(std::move(a));
    }
    return out;
}

std::string humanReadable(double value) {
    static const char* const kLarge[] = {"", "k", "M", "G", "T", "P"};
    static const char* const kSmall[] = {"", "m", "u", "n", "p"};
    std::size_t i = 0, j = 0;
    double v = value;
    while (std::fabs(v) >= 1000 && i + 1 < std::size(kLarge)) {
        v /= 1000;
        ++i;
    }
    while (v != 0 && std::fabs(v) < 1 && j + 1 < std::size(kSmall)) {
        v *= 1000;
        ++j;
    }
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.6g%s", v, i ? kLarge[i] : kSmall[j]);
    return buf;
}

std::string consoleLine(const Measurement& run, std::size_t nameWidth) {
    std::string line = run.name;
    if (line.size() < nameWidth) line.append(nameWidth - line.size(), ' ');
    if (run.error) return line + " ERROR OCCURRED: '" + run.errorMessage + "'";
    const double k = run.relative ? 100 : perUnit(run.unit);
    const char* unit = run.relative ? "%" : unitName(run.unit);
    char columns[128];
    std::snprintf(columns, sizeof columns, " %s %-4s %s %-4s %10lld", fixed(run.time * k, 10, run.relative).c_str(), unit,
                  fixed(run.cpu * k, 10, run.relative).c_str(), unit, static_cast<long long>(run.iterations));
    line += columns;
    for (const auto& [key, value] : run.counters) {
        line += ' ' + key + '=';
        if (run.relative) {
            char percent[32];
            std::snprintf(percent, sizeof percent, "%.2f%%", value * 100);
            line += percent;
        } else {
            line += humanReadable(value);
            if (key == "bytes_per_second" || key == "items_per_second") line += "/s";
        }
    }
    if (!run.label.empty()) line += ' ' + run.label;
    return line;
}

}  // namespace benchmark::internal
