// Cubic resampling of a 1024 × 768 32-bit picture (the photograph of
// palette_picture.h with an alpha gradient) to 2048 × 1536 and to 256 × 192:
//   BM_ImgResample     ours (imgResample, 32 bits per pixel)
//   BM_StbResize       stb_image_resize in-process, Mitchell filter, every
//                      channel filtered alike (no alpha channel), clamped
//                      edges, linear colour space (Debian libstb-dev)
//   BM_PillowResize    Pillow's bicubic resize of the same RGBA pixels, timed
//                      inside one python3 process (Debian python3-pil): the
//                      median of its own repetitions, reported as manual time
// The peers are skipped when missing.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "image/resample.h"
#include "palette_picture.h"

#if __has_include(<stb/stb_image_resize.h>)
#define OCT_BENCH_STB 1
#define STB_IMAGE_RESIZE_IMPLEMENTATION
#include <stb/stb_image_resize.h>
#endif

namespace {

// Blue, green, red of the picture and an alpha that runs across it.
const std::vector<std::uint8_t>& picture32() {
    static const std::vector<std::uint8_t> px =
        palettePictureWidened([](const std::uint8_t* s, std::uint8_t* d, std::int32_t x, std::int32_t y) {
            const BenchPicture& pic = palettePicture();
            d[0] = s[0], d[1] = s[1], d[2] = s[2];
            d[3] = static_cast<std::uint8_t>((x + y) * 255 / (pic.width + pic.height));
        });
    return px;
}

void setPixels(benchmark::State& state) {
    state.SetItemsProcessed(state.iterations() * state.range(0) * state.range(1));
}

void BM_ImgResample(benchmark::State& state) {
    const auto& src = picture32();
    const auto w = static_cast<std::int32_t>(state.range(0)), h = static_cast<std::int32_t>(state.range(1));
    std::vector<std::uint8_t> dst(static_cast<std::size_t>(w) * h * 4);
    for (auto _ : state) {
        if (!oct::imgResample(src.data(), kPaletteWidth, kPaletteHeight, dst.data(), w, h, 32)) {
            state.SkipWithError("imgResample failed");
            break;
        }
        benchmark::DoNotOptimize(dst.data());
    }
    setPixels(state);
}
BENCHMARK(BM_ImgResample)->Args({2048, 1536})->Args({256, 192})->Unit(benchmark::kMillisecond);

#if OCT_BENCH_STB
void BM_StbResize(benchmark::State& state) {
    const auto& src = picture32();
    const auto w = static_cast<int>(state.range(0)), h = static_cast<int>(state.range(1));
    std::vector<std::uint8_t> dst(static_cast<std::size_t>(w) * h * 4);
    for (auto _ : state) {
        stbir_resize_uint8_generic(src.data(), kPaletteWidth, kPaletteHeight, 0, dst.data(), w, h, 0, 4,
                                   STBIR_ALPHA_CHANNEL_NONE, 0, STBIR_EDGE_CLAMP, STBIR_FILTER_MITCHELL,
                                   STBIR_COLORSPACE_LINEAR, nullptr);
        benchmark::DoNotOptimize(dst.data());
    }
    setPixels(state);
}
BENCHMARK(BM_StbResize)->Args({2048, 1536})->Args({256, 192})->Unit(benchmark::kMillisecond);
#endif

#ifndef _WIN32
// One python3 run: reads the raw RGBA pixels, resizes them REPS times after a
// warm-up and prints the median seconds of one resize.
constexpr const char* kPillowScript = R"(import sys, time
from PIL import Image
path, w, h, ow, oh, reps = sys.argv[1], *map(int, sys.argv[2:7])
im = Image.frombytes("RGBA", (w, h), open(path, "rb").read())
im.resize((ow, oh), Image.BICUBIC)
t = []
for _ in range(reps):
    s = time.perf_counter()
    im.resize((ow, oh), Image.BICUBIC)
    t.append(time.perf_counter() - s)
t.sort()
print(t[len(t) // 2])
)";

void BM_PillowResize(benchmark::State& state) {
    const std::string dir = OCT_BENCH_DIR;
    const std::string raw = dir + "/bench-resample-1024x768.rgba", script = dir + "/bench-resample-pillow.py";
    {
        // Pillow reads red, green, blue, alpha.
        std::vector<std::uint8_t> rgba = picture32();
        for (std::size_t i = 0; i < rgba.size(); i += 4) std::swap(rgba[i], rgba[i + 2]);
        std::ofstream(raw, std::ios::binary).write(reinterpret_cast<const char*>(rgba.data()), rgba.size());
        std::ofstream(script) << kPillowScript;
    }
    const std::string command = "/usr/bin/python3 " + script + " " + raw + " 1024 768 " +
                                std::to_string(state.range(0)) + " " + std::to_string(state.range(1)) + " 9 2>/dev/null";
    for (auto _ : state) {
        FILE* p = popen(command.c_str(), "r");
        double seconds = -1;
        if (p) {
            if (std::fscanf(p, "%lf", &seconds) != 1) seconds = -1;
            pclose(p);
        }
        if (seconds < 0) {
            state.SkipWithError("python3 with Pillow is missing");
            break;
        }
        state.SetIterationTime(seconds);
    }
    setPixels(state);
}
BENCHMARK(BM_PillowResize)
    ->Args({2048, 1536})
    ->Args({256, 192})
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);
#endif

}  // namespace
