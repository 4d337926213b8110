// One benchmark program for every subsystem; the runtime runs for its whole life.
#include <benchmark/benchmark.h>

#include "runtime/module.h"

int main(int argc, char** argv) {
    oct::modStartAll();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    oct::modStopAll();
    return 0;
}
