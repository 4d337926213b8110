// The screen that the frames of an animation (GIF, animated WebP) are laid
// on, as a viewer shows them: each frame covers its own rectangle, laid by
// its alpha or replacing what was there, and after it is shown its
// rectangle is kept, cleared to transparent, or put back as it was.
#pragma once

#include <cstdint>

#include "platform/pictures.h"

namespace oct {

// width × height pixels of blue, green, red and straight alpha, top row
// first, rows of width × 4 bytes; where no frame has been, the clear colour
// with alpha 0 (a GIF's transparent colour, which viewers keep there).
struct FrameScreen {
    std::uint8_t* pixels;
    std::int32_t width;
    std::int32_t height;
    std::uint32_t clearColour;  // red << 16 | green << 8 | blue
};

// The part of a frame's rectangle that lies on the screen (empty when none).
plat::PictureFrame imgClipFrame(const FrameScreen& screen, const plat::PictureFrame& frame);

// Lays a frame's pixels (frame.height rows of frame.width 4-byte pixels, top
// row first, `pitch` bytes apart) on its rectangle, which must lie on the
// screen. With frame.blend each pixel goes over what is there by its alpha:
//   alpha  = (a_s × 255 + a_d × (255 − a_s)) div 255
//   colour = (c_s × a_s × 255 + c_d × a_d × (255 − a_s)) div (a_s × 255 + a_d × (255 − a_s))
// so an opaque pixel replaces, a transparent one keeps what is there (colour
// and alpha, transparent or not), and over a transparent screen a pixel stays
// exactly itself.
// Without blend the rectangle takes the frame's pixels as they are.
void imgLayFrame(FrameScreen& screen, const plat::PictureFrame& frame, const std::uint8_t* pixels,
                 std::int64_t pitch);

// Copies the rectangle's pixels between the screen and a block of
// frame.width × frame.height 4-byte pixels (rows of frame.width × 4 bytes):
// the save and restore of a frame whose disposal is Previous.
void imgSaveRect(const FrameScreen& screen, const plat::PictureFrame& rect, std::uint8_t* block);
void imgRestoreRect(FrameScreen& screen, const plat::PictureFrame& rect, const std::uint8_t* block);

// Makes the rectangle transparent in the clear colour: the disposal Background.
void imgClearRect(FrameScreen& screen, const plat::PictureFrame& rect);

}  // namespace oct
