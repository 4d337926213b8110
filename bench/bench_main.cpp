// oct_bench's entry: the codecs allocate from the runtime's heaps, so the
// runtime runs around the benchmarks as it does around the tests.
//
//   oct_bench --make-picture PATH [--alpha]
// instead writes the benchmark picture (24-bit, or 32-bit with its alpha
// ramp) as a BMP file to PATH, for the whole-process peers in peers.sh.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string_view>

#include "bench_picture.h"
#include "runtime/module.h"

namespace {

int makePicture(int argc, char** argv) {
    const bool alpha = argc == 4 && std::string_view(argv[3]) == "--alpha";
    if (argc != 3 && !alpha) {
        std::fprintf(stderr, "usage: %s --make-picture PATH [--alpha]\n", argv[0]);
        return 2;
    }
    return benchWritePicture(argv[2], alpha) ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && std::string_view(argv[1]) == "--make-picture") return makePicture(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    oct::modStartAll();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    oct::modStopAll();
    return 0;
}
