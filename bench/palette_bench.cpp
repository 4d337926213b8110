// Palette reduction on the 1024 × 768 picture of palette_picture.h, to 256
// and to 16 colours, with and without error diffusion:
//   BM_PalCreate         training the network and filling the palette
//   BM_PalBmpEncode      the whole 8- or 4-bit BMP file built in memory:
//                        training, an index per pixel, packing
// Each case reports "mse", the mean squared error of the file against the
// picture over every colour byte. The peers (palette_peers_bench.cpp) report
// the same on the same pixels.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "encode/bmp_writer.h"
#include "encode/encoder.h"
#include "encode/palette.h"
#include "palette_picture.h"
#include "runtime/heap.h"

namespace {

std::int32_t depthOf(const benchmark::State& state) { return state.range(0) == 256 ? 8 : 4; }
std::int32_t flagsOf(const benchmark::State& state) { return state.range(1) ? oct::kPaletteDither : 0; }

std::vector<std::uint8_t> encodeOnce(const BenchPicture& pic, std::int32_t depth, std::int32_t flags) {
    auto* block = reinterpret_cast<std::uint8_t*>(oct::imgBmpEncode(
        nullptr, {pic.pixels.data(), pic.width, pic.height, pic.pitch, oct::kEncodeBottomUp},
        {.flags = flags, .depth = depth}, 24));
    if (!block) return {};
    std::uint32_t size;
    std::memcpy(&size, block + 2, 4);
    std::vector<std::uint8_t> bytes(block, block + size);
    oct::memFree(block);
    return bytes;
}

void setPixels(benchmark::State& state, const BenchPicture& pic) {
    state.SetItemsProcessed(state.iterations() * pic.width * pic.height);
}

void BM_PalCreate(benchmark::State& state) {
    const BenchPicture& pic = palettePicture();
    for (auto _ : state) {
        oct::PaletteReducer* r =
            oct::palCreate(pic.pixels.data(), pic.width, pic.height, 24, pic.pitch, depthOf(state), flagsOf(state));
        if (!r) state.SkipWithError("palCreate failed");
        benchmark::DoNotOptimize(r);
        oct::palFree(r);
    }
    setPixels(state, pic);
}
BENCHMARK(BM_PalCreate)->ArgNames({"colours", "dither"})->Args({256, 0})->Args({16, 0})->Unit(benchmark::kMillisecond);

void BM_PalBmpEncode(benchmark::State& state) {
    const BenchPicture& pic = palettePicture();
    for (auto _ : state) {
        auto* block = reinterpret_cast<std::uint8_t*>(oct::imgBmpEncode(
            nullptr, {pic.pixels.data(), pic.width, pic.height, pic.pitch, oct::kEncodeBottomUp},
            {.flags = flagsOf(state), .depth = depthOf(state)}, 24));
        if (!block) state.SkipWithError("encode failed");
        benchmark::DoNotOptimize(block);
        oct::memFree(block);
    }
    setPixels(state, pic);
    state.counters["mse"] = paletteFileError(encodeOnce(pic, depthOf(state), flagsOf(state)));
}
BENCHMARK(BM_PalBmpEncode)
    ->ArgNames({"colours", "dither"})
    ->ArgsProduct({{256, 16}, {0, 1}})
    ->Unit(benchmark::kMillisecond);

}  // namespace
