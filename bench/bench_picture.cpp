#include "bench_picture.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

namespace {

std::uint32_t le32(const std::vector<std::uint8_t>& b, std::size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

std::string make(bool alpha) {
    const std::string path = std::string(OCT_BENCH_DIR) + (alpha ? "/bench-4096-alpha.bmp" : "/bench-4096.bmp");
    std::ifstream probe(path, std::ios::binary);
    if (!probe) {
        const std::string cmd = "/usr/bin/python3 " OCT_SHARED_TOOLS "/make-bench-picture '" + path + "' 4096" +
                                (alpha ? " --alpha" : "");
        if (std::system(cmd.c_str()) != 0) {
            std::fprintf(stderr, "cannot make the benchmark picture: %s\n", cmd.c_str());
            std::exit(2);
        }
    }
    return path;
}

BenchPicture load(bool alpha) {
    std::ifstream in(benchPicturePath(alpha), std::ios::binary);
    std::vector<std::uint8_t> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // BITMAPFILEHEADER (14 bytes) then BITMAPINFOHEADER: the generator writes
    // uncompressed bottom-up rows of 24 or 32 bits.
    if (file.size() < 54 || file[0] != 'B' || file[1] != 'M') std::exit(2);
    BenchPicture pic;
    pic.width = static_cast<std::int32_t>(le32(file, 18));
    pic.height = static_cast<std::int32_t>(le32(file, 22));
    pic.bitsPerPixel = file[28];
    pic.pitch = (pic.width * (pic.bitsPerPixel / 8) + 3) & ~3;
    const std::size_t offset = le32(file, 10);
    const std::size_t bytes = static_cast<std::size_t>(pic.pitch) * pic.height;
    if (offset + bytes > file.size()) std::exit(2);
    pic.pixels.assign(file.begin() + static_cast<std::ptrdiff_t>(offset),
                      file.begin() + static_cast<std::ptrdiff_t>(offset + bytes));
    return pic;
}

}  // namespace

const std::string& benchPicturePath(bool alpha) {
    static const std::string rgb = make(false);
    if (!alpha) return rgb;
    static const std::string rgba = make(true);
    return rgba;
}

const BenchPicture& benchPicture(bool alpha) {
    static const BenchPicture rgb = load(false);
    if (!alpha) return rgb;
    static const BenchPicture rgba = load(true);
    return rgba;
}
