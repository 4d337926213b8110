// The benchmark stand-in of the Windows build: case names, argument rows,
// the loop's iteration count and failures, statistics over repetitions, and
// the console text, which must read like the native runner's for the two
// outputs to be compared line by line.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "bench/mini/report.h"

namespace {

using benchmark::State;
using benchmark::internal::Benchmark;
using benchmark::internal::Measurement;

void noop(State&) {}

TEST(MiniBenchmark, CaseNamesCarryArgumentsAndTimingMode) {
    struct Row {
        const char* what;
        void (*setup)(Benchmark&);
        std::vector<std::int64_t> args;
        const char* name;
    };
    const Row rows[] = {
        {"no arguments", [](Benchmark&) {}, {}, "BM_X"},
        {"plain value", [](Benchmark&) {}, {24}, "BM_X/24"},
        {"named values", [](Benchmark& b) { b.ArgNames({"input", "level"}); }, {0, 6}, "BM_X/input:0/level:6"},
        {"fewer names than values", [](Benchmark& b) { b.ArgName("cached"); }, {1, 2}, "BM_X/cached:1/2"},
        {"empty name", [](Benchmark& b) { b.ArgNames({"", "b"}); }, {-3, 4}, "BM_X/-3/b:4"},
        {"real time", [](Benchmark& b) { b.UseRealTime(); }, {5}, "BM_X/5/real_time"},
        {"manual time wins over real time",
         [](Benchmark& b) { b.UseRealTime()->UseManualTime()->Iterations(3); },
         {2048, 1536},
         "BM_X/2048/1536/iterations:3/manual_time"},
    };
    for (const Row& r : rows) {
        Benchmark b("BM_X", noop);
        r.setup(b);
        EXPECT_EQ(benchmark::internal::caseName(b, r.args), r.name) << r.what;
    }
}

TEST(MiniBenchmark, ArgsProductVariesTheLastListFastest) {
    Benchmark b("BM_X", noop);
    b.Arg(1)->ArgsProduct({{256, 16}, {0, 1}});
    const std::vector<std::vector<std::int64_t>> want = {{1}, {256, 0}, {256, 1}, {16, 0}, {16, 1}};
    EXPECT_EQ(b.args(), want);

    Benchmark empty("BM_Y", noop);
    empty.ArgsProduct({{1, 2}, {}});
    EXPECT_TRUE(empty.args().empty());
    int applied = 0;
    static int* seen = &applied;
    empty.Apply([](Benchmark* x) { ++*seen, x->Args({7, 8}); });
    EXPECT_EQ(applied, 1);
    EXPECT_EQ(empty.args().size(), 1u);
}

TEST(MiniBenchmark, LoopRunsExactlyItsIterationsAndStopsOnError) {
    State whole({}, 5);
    int bodies = 0;
    for (auto _ : whole) ++bodies;
    EXPECT_EQ(bodies, 5);
    EXPECT_EQ(whole.iterations(), 5);
    EXPECT_FALSE(whole.error());
    // A second loop over a finished state runs nothing more.
    for (auto _ : whole) ++bodies;
    EXPECT_EQ(bodies, 5);

    State failing({}, 100);
    bodies = 0;
    for (auto _ : failing) {
        if (++bodies == 3) failing.SkipWithError("first");
        if (bodies == 3) failing.SkipWithError("second");
    }
    EXPECT_EQ(bodies, 3);
    EXPECT_TRUE(failing.error());
    EXPECT_EQ(failing.errorMessage(), "first");

    State before({}, 100);
    before.SkipWithError("no input");
    bodies = 0;
    for (auto _ : before) ++bodies;
    EXPECT_EQ(bodies, 0);

    Benchmark b("BM_X", noop);
    const Measurement r = benchmark::internal::measured("BM_X", b, before);
    EXPECT_TRUE(r.error);
    EXPECT_EQ(benchmark::internal::consoleLine(r, 6), "BM_X   ERROR OCCURRED: 'no input'");

    // A function that never enters the loop is a failure, not a division by zero.
    State idle({}, 10);
    const Measurement none = benchmark::internal::measured("BM_X", b, idle);
    EXPECT_TRUE(none.error);
}

TEST(MiniBenchmark, ManualTimeDrivesTimeAndRates) {
    Benchmark b("BM_X", noop);
    b.UseManualTime();
    State state({}, 4);
    for (auto _ : state) state.SetIterationTime(0.25);
    state.SetBytesProcessed(4000);
    state.SetItemsProcessed(0);
    state.counters["ratio"] = 2.5;
    const Measurement r = benchmark::internal::measured("BM_X", b, state);
    ASSERT_FALSE(r.error);
    EXPECT_DOUBLE_EQ(r.time, 0.25);
    EXPECT_DOUBLE_EQ(r.counters.at("bytes_per_second"), 4000.0);
    EXPECT_EQ(r.counters.count("items_per_second"), 0u);  // none were set
    EXPECT_DOUBLE_EQ(r.counters.at("ratio"), 2.5);
}

Measurement run(double time, double counter, bool error = false) {
    Measurement r;
    r.name = "BM_X/24";
    r.iterations = 10;
    r.time = time;
    r.cpu = time / 2;
    r.counters["ratio"] = counter;
    r.error = error;
    return r;
}

TEST(MiniBenchmark, AggregatesSkipFailedRuns) {
    const std::vector<Measurement> stats =
        benchmark::internal::aggregates({run(1, 10), run(99, 99, true), run(2, 20), run(6, 60)});
    ASSERT_EQ(stats.size(), 4u);
    const char* names[] = {"BM_X/24_mean", "BM_X/24_median", "BM_X/24_stddev", "BM_X/24_cv"};
    const double times[] = {3, 2, std::sqrt(7.0), std::sqrt(7.0) / 3};
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(stats[i].name, names[i]);
        EXPECT_EQ(stats[i].iterations, 3);  // the runs, not their iterations
        EXPECT_NEAR(stats[i].time, times[i], 1e-12) << names[i];
        EXPECT_NEAR(stats[i].cpu, i == 3 ? times[i] : times[i] / 2, 1e-12) << names[i];
        EXPECT_NEAR(stats[i].counters.at("ratio"), i == 3 ? times[i] : times[i] * 10, 1e-9) << names[i];
        EXPECT_EQ(stats[i].relative, i == 3);
    }
    // An even count takes the middle pair's mean.
    EXPECT_DOUBLE_EQ(benchmark::internal::aggregates({run(1, 0), run(4, 0)})[1].time, 2.5);
    EXPECT_TRUE(benchmark::internal::aggregates({run(1, 0), run(2, 0, true)}).empty());
    EXPECT_TRUE(benchmark::internal::aggregates({}).empty());
}

TEST(MiniBenchmark, NumbersReadLikeTheNativeRunner) {
    struct Row {
        double value;
        const char* text;
    };
    const Row rows[] = {{0, "0"},           {2.5, "2.5"},          {999, "999"},     {1000, "1k"},
                        {1234567, "1.23457M"}, {11.8079e9, "11.8079G"}, {0.00125, "1.25m"}, {-2e-7, "-200n"}};
    for (const Row& r : rows) EXPECT_EQ(benchmark::internal::humanReadable(r.value), r.text) << r.value;

    // Columns as the native runner sets them: " %10s %-4s %10s %-4s %10d".
    Measurement r = run(0.0042, 2.10764);
    r.unit = benchmark::kMillisecond;
    r.counters["bytes_per_second"] = 117.823e6;
    r.label = "text";
    EXPECT_EQ(benchmark::internal::consoleLine(r, 10),
              "BM_X/24          4.20 ms         2.10 ms           10 bytes_per_second=117.823M/s ratio=2.10764 text");
    r.relative = true;
    r.time = 0.0976;
    r.cpu = 0.0058;
    r.counters = {{"ratio", 0}};
    r.label.clear();
    EXPECT_EQ(benchmark::internal::consoleLine(r, 10), "BM_X/24          9.76 %          0.58 %            10 ratio=0.00%");
}

TEST(MiniBenchmark, InitializeTakesItsFlagsAndLeavesTheRest) {
    char prog[] = "oct_bench", filter[] = "--benchmark_filter=BM_Lvl", other[] = "--gtest_brief=1",
         reps[] = "--benchmark_repetitions=3", aggregates[] = "--benchmark_report_aggregates_only=true",
         minTime[] = "--benchmark_min_time=0.5s", similar[] = "--benchmark_filterx=1";
    char* argv[] = {prog, filter, other, reps, aggregates, minTime, similar, nullptr};
    int argc = 7;
    benchmark::Initialize(&argc, argv);
    ASSERT_EQ(argc, 3);
    EXPECT_STREQ(argv[1], "--gtest_brief=1");
    EXPECT_STREQ(argv[2], "--benchmark_filterx=1");
    EXPECT_EQ(argv[3], nullptr);
    // Back to the defaults, for whoever runs after this test.
    char all[] = "--benchmark_filter=", one[] = "--benchmark_repetitions=1",
         off[] = "--benchmark_report_aggregates_only=false";
    char* reset[] = {prog, all, one, off, nullptr};
    int n = 4;
    benchmark::Initialize(&n, reset);
    EXPECT_EQ(n, 1);
}

}  // namespace
