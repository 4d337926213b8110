// The benchmark picture: the deterministic photo-like BMP that
// make-bench-picture writes, so that every case and every peer measures the
// same pixels. Made once per build folder and kept.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct BenchPicture {
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::int32_t bitsPerPixel = 0;
    std::int32_t pitch = 0;
    std::vector<std::uint8_t> pixels;  // bottom-up rows, as stored in the file
};

// The path of the 4096 × 4096 BMP file in the build folder, 24-bit, or
// 32-bit with an alpha ramp; makes the file when it is missing. Aborts the
// benchmark program when the picture cannot be made.
const std::string& benchPicturePath(bool alpha);

// The pixels of that file. Aborts the benchmark program when the picture
// cannot be made or read.
const BenchPicture& benchPicture(bool alpha);
