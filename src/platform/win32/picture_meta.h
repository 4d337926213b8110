// What WIC's metadata says about a GIF frame: where it lies on the screen,
// how long it shows and how it leaves.
#pragma once

#include <wincodec.h>

#include <cstdint>

#include "platform/pictures.h"

namespace oct::plat {

// The frame's rectangle as stored (not yet clipped to the screen), its delay
// in milliseconds and its disposal. A frame without a graphic control
// extension shows for 0 ms and stays; a frame whose descriptor cannot be
// read lies at 0, 0 with the size the codec gives it.
PictureFrame gifFrameMeta(IWICBitmapFrameDecode* frame);

}  // namespace oct::plat
