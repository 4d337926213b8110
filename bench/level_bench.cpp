// The level codec on the 4096 × 4096 benchmark picture, 24 and 32 bits, with
// a memcpy of the same source bytes as the baseline of the same run; the
// *Isa cases time each instruction-set version of quantizing and of
// decoding into rows.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "api/level_codec.h"
#include "api/level_kernels.h"
#include "bench_picture.h"
#include "runtime/heap.h"

namespace {

oct::PixelSource sourceOf(const BenchPicture& pic) {
    return {pic.pixels.data(), pic.width, pic.height, pic.pitch, static_cast<std::uint16_t>(pic.bitsPerPixel)};
}

void setPixels(benchmark::State& state, const BenchPicture& pic) {
    state.SetItemsProcessed(state.iterations() * pic.width * pic.height);
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(pic.pixels.size()));
}

void BM_MemcpySource(benchmark::State& state) {
    const BenchPicture& pic = benchPicture(state.range(0) == 32);
    std::vector<std::uint8_t> copy(pic.pixels.size());
    for (auto _ : state) {
        std::memcpy(copy.data(), pic.pixels.data(), pic.pixels.size());
        benchmark::DoNotOptimize(copy.data());
        benchmark::ClobberMemory();
    }
    setPixels(state, pic);
}
BENCHMARK(BM_MemcpySource)->Arg(24)->Arg(32)->Unit(benchmark::kMillisecond);

void BM_LvlQuantize(benchmark::State& state) {
    const BenchPicture& pic = benchPicture(state.range(0) == 32);
    for (auto _ : state) {
        oct::LevelBuffer lv;
        if (!oct::lvlQuantize(sourceOf(pic), lv)) state.SkipWithError("quantize failed");
        benchmark::DoNotOptimize(lv.levels);
        oct::memFree(lv.levels);
    }
    setPixels(state, pic);
}
BENCHMARK(BM_LvlQuantize)->Arg(24)->Arg(32)->Unit(benchmark::kMillisecond);

// Each instruction-set version on its own: isa 0 portable, 1 SSE2, 2 AVX2
// (skipped where the processor lacks it).
oct::lvl::Isa isaOf(benchmark::State& state) { return static_cast<oct::lvl::Isa>(state.range(1)); }

void BM_LvlQuantizeIsa(benchmark::State& state) {
    const BenchPicture& pic = benchPicture(state.range(0) == 32);
    if (!oct::lvl::isaRuns(isaOf(state))) {
        state.SkipWithError("this processor lacks the instruction set");
        return;
    }
    for (auto _ : state) {
        oct::LevelBuffer lv;
        if (!oct::lvl::quantizeWith(isaOf(state), sourceOf(pic), lv)) state.SkipWithError("quantize failed");
        benchmark::DoNotOptimize(lv.levels);
        oct::memFree(lv.levels);
    }
    setPixels(state, pic);
}
BENCHMARK(BM_LvlQuantizeIsa)->ArgNames({"bits", "isa"})->ArgsProduct({{24, 32}, {0, 1, 2}})->Unit(benchmark::kMillisecond);

// Levels to the rows of a bottom-up picture of the source's depth, as a
// rebuilt image gets them.
void BM_LvlDecodeRowsIsa(benchmark::State& state) {
    const BenchPicture& pic = benchPicture(state.range(0) == 32);
    if (!oct::lvl::isaRuns(isaOf(state))) {
        state.SkipWithError("this processor lacks the instruction set");
        return;
    }
    oct::LevelBuffer lv;
    if (!oct::lvlQuantize(sourceOf(pic), lv)) {
        state.SkipWithError("quantize failed");
        return;
    }
    std::vector<std::uint8_t> out(pic.pixels.size());
    for (auto _ : state) {
        oct::lvl::decodeRowsWith(isaOf(state), lv.levels, lv.size, pic.width, pic.height, lv.alpha != 0, out.data(),
                                 pic.pitch, pic.bitsPerPixel / 8);
        benchmark::ClobberMemory();
    }
    oct::memFree(lv.levels);
    setPixels(state, pic);
}
BENCHMARK(BM_LvlDecodeRowsIsa)->ArgNames({"bits", "isa"})->ArgsProduct({{24, 32}, {0, 1, 2}})->Unit(benchmark::kMillisecond);

// A plain bottom-up target of the picture's depth, as the plot of a rebuilt image writes it.
struct Target {
    std::uint8_t* bits;
    std::int32_t height, pitch, bytesPerPixel;
};

void plotPlain(void* context, std::int32_t x, std::int32_t y, std::uint32_t colour) {
    auto* t = static_cast<Target*>(context);
    std::uint8_t* p = t->bits + static_cast<std::int64_t>(t->height - 1 - y) * t->pitch + x * t->bytesPerPixel;
    p[0] = static_cast<std::uint8_t>(colour >> 16);
    p[1] = static_cast<std::uint8_t>(colour >> 8);
    p[2] = static_cast<std::uint8_t>(colour);
    if (t->bytesPerPixel == 4) p[3] = static_cast<std::uint8_t>(colour >> 24);
}

void BM_LvlDecode(benchmark::State& state) {
    const BenchPicture& pic = benchPicture(state.range(0) == 32);
    oct::LevelBuffer lv;
    if (!oct::lvlQuantize(sourceOf(pic), lv)) {
        state.SkipWithError("quantize failed");
        return;
    }
    std::vector<std::uint8_t> out(pic.pixels.size());
    Target target{out.data(), pic.height, pic.pitch, pic.bitsPerPixel / 8};
    for (auto _ : state) {
        oct::lvlDecode(lv.levels, lv.size, pic.width, pic.height, lv.alpha, plotPlain, &target);
        benchmark::ClobberMemory();
    }
    oct::memFree(lv.levels);
    setPixels(state, pic);
}
BENCHMARK(BM_LvlDecode)->Arg(24)->Arg(32)->Unit(benchmark::kMillisecond);

}  // namespace
