// The reasons the picture codecs of both backends record when they refuse a
// picture, in one wording on both systems.
#pragma once

#include "platform/pictures.h"

namespace oct::plat {

// "PNG", "JPEG", "GIF", "TIFF", "WebP".
const char* pictureFormatName(PictureFormat format);

// Records why a codec refused the data, in its own words where it gives
// any: "damaged PNG (chunk CRC mismatch)". Returns false.
bool pictureDamaged(PictureFormat format, const char* words);

}  // namespace oct::plat
