// The BMP decoder's direct read of files: a plain BMP — uncompressed 24 bits
// per pixel, bottom row first, every stored row inside the file — has stored
// rows that are its bitmap's rows byte for byte, so it is read straight from
// the file into the bitmap, and the file is never held in memory besides the
// picture.
#pragma once

#include <cstdint>

#include "image/decoder.h"
#include "platform/files.h"

namespace oct {

// The BMP decoder's DecodeFileFn: true with `out` holding a new 24-bit
// bottom-up DIB section when the file is a plain BMP and reading it worked;
// the result is exactly what the decoder makes of the whole file (its 24-bit
// rows are copies, the row padding stays zero). False, with nothing made,
// for any other file or a failed read.
bool imgBmpReadFile(plat::File* file, std::int64_t size, DirectPicture& out);

}  // namespace oct
