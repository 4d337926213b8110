// The benchmark picture: the photograph of picture_maker.h scaled to
// 4096 × 4096, so that every case and every peer measures the same pixels.
// Kept as a BMP file in the build folder, rewritten whenever its bytes are
// not the ones this code makes.
#pragma once

#include <string>

#include "picture_maker.h"

constexpr std::int32_t kBenchPictureSize = 4096;

// The picture, 24-bit, or 32-bit with the alpha ramp. Aborts the benchmark
// program when the photograph cannot be read.
const BenchPicture& benchPicture(bool alpha);

// The path of its BMP file in the build folder; writes the file when it is
// missing or stale. Aborts the benchmark program when it cannot be written.
const std::string& benchPicturePath(bool alpha);

// Writes the picture as a BMP file to `path`. False when the photograph
// cannot be read or the file cannot be written.
[[nodiscard]] bool benchWritePicture(const std::string& path, bool alpha, std::int32_t size = kBenchPictureSize);
