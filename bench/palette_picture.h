// The palette benchmarks' picture and their measure of quality: the
// photograph of picture_maker.h scaled to 1024 × 768 (24-bit), and the mean
// squared error of a reduced picture against it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "picture_maker.h"

constexpr std::int32_t kPaletteWidth = 1024, kPaletteHeight = 768;

// The picture. Aborts the benchmark program when the photograph cannot be read.
const BenchPicture& palettePicture();

// The picture widened to 4 bytes a pixel: `widen(source, target, x, y)`
// writes each target pixel from the source's blue, green and red.
template <class Widen>
std::vector<std::uint8_t> palettePictureWidened(Widen widen) {
    const BenchPicture& pic = palettePicture();
    std::vector<std::uint8_t> out(4 * static_cast<std::size_t>(pic.width) * pic.height);
    for (std::int32_t y = 0; y < pic.height; ++y)
        for (std::int32_t x = 0; x < pic.width; ++x)
            widen(pic.pixels.data() + static_cast<std::size_t>(y) * pic.pitch + 3 * x,
                  out.data() + 4 * (static_cast<std::size_t>(y) * pic.width + x), x, y);
    return out;
}

// Its BMP file in the build folder, for the whole-process peers.
const std::string& palettePicturePath();

// Mean over every colour byte of the squared difference from the picture,
// for a BMP file's bytes (read by the library's loader), or −1 when they
// do not load as a picture of the same size.
double paletteFileError(const std::vector<std::uint8_t>& bmp);

// The same for rows of palette indices (row 0 is the picture's first row in
// memory, `width` bytes apart) and palette entries of blue, green, red.
double paletteIndexError(const std::uint8_t* indices, const std::uint8_t (*bgr)[3]);
