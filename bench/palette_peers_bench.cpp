// Peers of palette_bench.cpp on the same 1024 × 768 pixels, to 256 and 16
// colours, without and with dithering; each reports "mse" as ours does.
//   BM_LiqQuantize        libimagequant in-process, default settings: the
//                         palette alone (liq_image_quantize)
//   BM_LiqQuantizeRemap   the palette and an index per pixel
//                         (liq_write_remapped_image), dithering level 0 or 1
//   BM_ImageMagickProcess /usr/bin/convert PICTURE +dither (or -dither
//                         FloydSteinberg) -colors N OUT.bmp, a whole process
//   BM_OcttoolProcess     build/native/octtool bmp --depth 8|4 [--dither],
//                         the same kind of whole process for comparison
// The process cases measure wall-clock time and are skipped when the program
// is missing (/usr/local/bin/convert on these machines is a stand-in, not
// ImageMagick, and is never used).
#ifndef _WIN32

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "palette_picture.h"

#if OCT_BENCH_LIQ
#include <libimagequant.h>
#endif

namespace {

std::vector<std::uint8_t> readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

#if OCT_BENCH_LIQ
// The picture as libimagequant takes it: red, green, blue, alpha.
const std::vector<std::uint8_t>& rgbaPicture() {
    static const std::vector<std::uint8_t> rgba =
        palettePictureWidened([](const std::uint8_t* s, std::uint8_t* d, std::int32_t, std::int32_t) {
            d[0] = s[2], d[1] = s[1], d[2] = s[0], d[3] = 255;
        });
    return rgba;
}

// One quantisation (and remap, when `indices` is given); the palette as blue, green, red.
bool liqRun(int colours, float dither, std::vector<std::uint8_t>* indices, std::uint8_t (*bgr)[3]) {
    const BenchPicture& pic = palettePicture();
    liq_attr* attr = liq_attr_create();
    liq_set_max_colors(attr, colours);
    liq_image* image = liq_image_create_rgba(attr, rgbaPicture().data(), pic.width, pic.height, 0);
    liq_result* result = nullptr;
    bool ok = image && liq_image_quantize(image, attr, &result) == LIQ_OK;
    if (ok && indices) {
        liq_set_dithering_level(result, dither);
        ok = liq_write_remapped_image(result, image, indices->data(), indices->size()) == LIQ_OK;
    }
    if (ok && bgr) {
        const liq_palette* palette = liq_get_palette(result);
        for (unsigned i = 0; i < palette->count; ++i)
            bgr[i][0] = palette->entries[i].b, bgr[i][1] = palette->entries[i].g, bgr[i][2] = palette->entries[i].r;
    }
    if (result) liq_result_destroy(result);
    if (image) liq_image_destroy(image);
    liq_attr_destroy(attr);
    return ok;
}

void BM_LiqQuantize(benchmark::State& state) {
    for (auto _ : state)
        if (!liqRun(static_cast<int>(state.range(0)), 0, nullptr, nullptr)) state.SkipWithError("liq failed");
}
BENCHMARK(BM_LiqQuantize)->ArgNames({"colours"})->Arg(256)->Arg(16)->Unit(benchmark::kMillisecond);

void BM_LiqQuantizeRemap(benchmark::State& state) {
    const BenchPicture& pic = palettePicture();
    std::vector<std::uint8_t> indices(static_cast<std::size_t>(pic.width) * pic.height);
    std::uint8_t bgr[256][3] = {};
    const float dither = state.range(1) ? 1.0f : 0.0f;
    for (auto _ : state)
        if (!liqRun(static_cast<int>(state.range(0)), dither, &indices, bgr)) state.SkipWithError("liq failed");
    state.counters["mse"] = paletteIndexError(indices.data(), bgr);
}
BENCHMARK(BM_LiqQuantizeRemap)
    ->ArgNames({"colours", "dither"})
    ->ArgsProduct({{256, 16}, {0, 1}})
    ->Unit(benchmark::kMillisecond);
#endif

// Runs `command` once per iteration; the error of the file it leaves at `out`.
void runProcess(benchmark::State& state, const std::string& program, const std::string& command,
                const std::string& out) {
    if (!std::filesystem::exists(program)) {
        state.SkipWithError((program + " is missing").c_str());
        return;
    }
    for (auto _ : state)
        if (std::system(command.c_str()) != 0) state.SkipWithError(("failed: " + command).c_str());
    state.counters["mse"] = paletteFileError(readAll(out));
    std::filesystem::remove(out);
}

void BM_ImageMagickProcess(benchmark::State& state) {
    const std::string out = std::string(OCT_BENCH_DIR) + "/bench-palette-magick.bmp";
    // The dither setting comes before -colors, which applies it.
    const std::string command = "/usr/bin/convert '" + palettePicturePath() + "'" +
                                (state.range(1) ? " -dither FloydSteinberg" : " +dither") + " -colors " +
                                std::to_string(state.range(0)) + " '" + out + "'";
    runProcess(state, "/usr/bin/convert", command, out);
}
BENCHMARK(BM_ImageMagickProcess)
    ->ArgNames({"colours", "dither"})
    ->ArgsProduct({{256, 16}, {0, 1}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_OcttoolProcess(benchmark::State& state) {
    const std::string tool = std::string(OCT_BENCH_DIR) + "/octtool";
    const std::string out = std::string(OCT_BENCH_DIR) + "/bench-palette-octtool.bmp";
    const std::string command = "'" + tool + "' bmp --depth " + (state.range(0) == 256 ? "8" : "4") +
                                (state.range(1) ? " --dither '" : " '") + palettePicturePath() + "' '" + out + "'";
    runProcess(state, tool, command, out);
}
BENCHMARK(BM_OcttoolProcess)
    ->ArgNames({"colours", "dither"})
    ->ArgsProduct({{256, 16}, {0, 1}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

#endif
