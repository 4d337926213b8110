// oct_bench's entry: the codecs allocate from the runtime's heaps, so the
// runtime runs around the benchmarks as it does around the tests.
//
//   oct_bench --make-picture PATH [--alpha] [--size N]
// instead writes the benchmark picture (24-bit, or 32-bit with its alpha
// ramp; N × N pixels, 4096 unless given, at most 16384) as a BMP file to
// PATH, for the whole-process measurements in peers.sh and scale.sh.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "bench_picture.h"
#include "runtime/module.h"

namespace {

int makePicture(int argc, char** argv) {
    bool alpha = false;
    long size = kBenchPictureSize;
    bool ok = argc >= 3;
    for (int i = 3; ok && i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--alpha") {
            alpha = true;
        } else if (arg == "--size" && i + 1 < argc) {
            char* end = nullptr;
            size = std::strtol(argv[++i], &end, 10);
            ok = *end == 0 && size >= 1 && size <= 16384;
        } else {
            ok = false;
        }
    }
    if (!ok) {
        std::fprintf(stderr, "usage: %s --make-picture PATH [--alpha] [--size N]\n", argv[0]);
        return 2;
    }
    return benchWritePicture(argv[2], alpha, static_cast<std::int32_t>(size)) ? 0 : 1;
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
