// oct_bench's entry: the codecs allocate from the runtime's heaps, so the
// runtime runs around the benchmarks as it does around the tests.
#include <benchmark/benchmark.h>

#include "runtime/module.h"

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    oct::modStartAll();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    oct::modStopAll();
    return 0;
}
