#include "bench_picture.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>
#include <vector>

namespace {

std::optional<BenchPicture> make(bool alpha, std::int32_t size = kBenchPictureSize) {
    const std::optional<BenchPicture> photo = benchReadBmp(OCT_BENCH_PHOTO);
    if (!photo) {
        std::fprintf(stderr, "cannot read the photograph %s\n", OCT_BENCH_PHOTO);
        return std::nullopt;
    }
    return benchScalePhoto(*photo, size, alpha);
}

// Writes the file unless it already holds exactly these bytes, so that a
// picture left by an older build is never measured.
bool writeIfChanged(const std::string& path, const BenchPicture& pic) {
    const std::vector<std::uint8_t> bytes = benchBmpFile(pic);
    {
        std::ifstream in(path, std::ios::binary);
        if (in && std::vector<std::uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>()) ==
                      bytes)
            return true;
    }
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) std::fprintf(stderr, "cannot write %s\n", path.c_str());
    return static_cast<bool>(out);
}

}  // namespace

const BenchPicture& benchPicture(bool alpha) {
    auto made = [](bool a) {
        std::optional<BenchPicture> pic = make(a);
        if (!pic) std::exit(2);
        return std::move(*pic);
    };
    static const BenchPicture rgb = made(false);
    if (!alpha) return rgb;
    static const BenchPicture rgba = made(true);
    return rgba;
}

const std::string& benchPicturePath(bool alpha) {
    auto written = [](bool a) {
        std::string path = std::string(OCT_BENCH_DIR) + (a ? "/bench-4096-alpha.bmp" : "/bench-4096.bmp");
        if (!writeIfChanged(path, benchPicture(a))) std::exit(2);
        return path;
    };
    static const std::string rgb = written(false);
    if (!alpha) return rgb;
    static const std::string rgba = written(true);
    return rgba;
}

bool benchWritePicture(const std::string& path, bool alpha, std::int32_t size) {
    const std::optional<BenchPicture> pic = make(alpha, size);
    return pic && writeIfChanged(path, *pic);
}
