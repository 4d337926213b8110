// How this system's TIFF codec hands the 16-bit samples of a big-endian file.
#pragma once

#include <wincodec.h>

namespace oct::plat {

// True when WIC's TIFF codec gives the 16-bit samples of a big-endian
// ("MM") file in the file's byte order instead of little-endian, as Wine's
// does; Windows swaps them. Found once per process by decoding a one-pixel
// picture built here; false when that cannot be decoded. Thread-safe; the
// calling thread must have COM initialised.
bool tiffWideSamplesInFileOrder(IWICImagingFactory* factory);

}  // namespace oct::plat
