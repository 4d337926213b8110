// Indexed PNGs, which is what every rebuilt level picture is, are written
// here rather than through libspng: the chunks around libdeflate's output.
// libdeflate compresses in one call what zlib does in a stream, several
// times faster for the same size.
#pragma once

#include "platform/png_encode.h"

namespace oct::plat {

// Encodes an indexed picture (colour Indexed, no filters) as signature, IHDR,
// PLTE, tRNS when some entry is not opaque, IDAT and IEND. The rows are
// gathered and compressed whole, which takes about one byte of memory a
// pixel at 4 bits. The picture's effort is libdeflate's level, whose 1 .. 9
// compress at least as well as zlib's (measured on the rebuilt pictures).
// False when memory runs out, the compressor fails or the
// sink refuses.
bool pngEncodeIndexed(const PngPicture& picture, const ByteSink& sink);

}  // namespace oct::plat
