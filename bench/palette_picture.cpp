#include "palette_picture.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "image/image.h"
#include "image/loader.h"
#include "platform/bitmaps.h"
#include "runtime/object_table.h"

namespace {

double squared(int d) { return static_cast<double>(d * d); }

}  // namespace

const BenchPicture& palettePicture() {
    static const BenchPicture pic = [] {
        const auto photo = benchReadBmp(OCT_BENCH_PHOTO);
        auto scaled = photo ? benchScalePhoto(*photo, kPaletteWidth, kPaletteHeight, false) : std::nullopt;
        if (!scaled) {
            std::fprintf(stderr, "cannot read the photograph %s\n", OCT_BENCH_PHOTO);
            std::exit(2);
        }
        return std::move(*scaled);
    }();
    return pic;
}

const std::string& palettePicturePath() {
    static const std::string path = [] {
        std::string p = std::string(OCT_BENCH_DIR) + "/bench-1024x768.bmp";
        const std::vector<std::uint8_t> bytes = benchBmpFile(palettePicture());
        std::ofstream out(p, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        if (!out) {
            std::fprintf(stderr, "cannot write %s\n", p.c_str());
            std::exit(2);
        }
        return p;
    }();
    return path;
}

double paletteFileError(const std::vector<std::uint8_t>& bmp) {
    const BenchPicture& pic = palettePicture();
    const std::int64_t id = oct::imgLoadImageMemory(oct::AnyId, bmp.data(), static_cast<std::int64_t>(bmp.size()));
    oct::plat::BitmapDesc bm{};
    double error = -1;
    if (id && oct::plat::bitmapDescribe(oct::imgImageHandle(id), bm) && bm.width == pic.width &&
        bm.height == pic.height && bm.bitsPerPixel == 24) {
        double sum = 0;
        for (std::int32_t y = 0; y < pic.height; ++y) {
            const std::uint8_t* a = static_cast<const std::uint8_t*>(bm.bits) + static_cast<std::int64_t>(y) * bm.widthBytes;
            const std::uint8_t* b = pic.pixels.data() + static_cast<std::int64_t>(y) * pic.pitch;
            for (std::int32_t i = 0; i < 3 * pic.width; ++i) sum += squared(a[i] - b[i]);
        }
        error = sum / (3.0 * pic.width * pic.height);
    }
    if (id) oct::imgFreeImage(id);
    return error;
}

double paletteIndexError(const std::uint8_t* indices, const std::uint8_t (*bgr)[3]) {
    const BenchPicture& pic = palettePicture();
    double sum = 0;
    for (std::int32_t y = 0; y < pic.height; ++y) {
        const std::uint8_t* b = pic.pixels.data() + static_cast<std::int64_t>(y) * pic.pitch;
        for (std::int32_t x = 0; x < pic.width; ++x) {
            const std::uint8_t* e = bgr[indices[static_cast<std::int64_t>(y) * pic.width + x]];
            for (int c = 0; c < 3; ++c) sum += squared(e[c] - b[3 * x + c]);
        }
    }
    return sum / (3.0 * pic.width * pic.height);
}
