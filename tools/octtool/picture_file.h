// Pictures that octtool writes: the file name's extension chooses the
// format, ".png" a PNG and anything else a BMP (letter case aside).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "tool.h"

struct OctImage;

namespace oct::tool {

enum class PictureOut { Bmp, Png };

// What `name` asks for: a PNG for a name ending in .png, else a BMP
// (standard output, "-", gets a BMP).
PictureOut toolPictureOut(std::string_view name);

// Rows of `depth` bits (24 or 32), bottom row first, `pitch` bytes apart,
// written to OUT (a file name or "-") as the format its name asks for: a
// BMP whose rows are the given bytes, or a PNG of the same pixels. False
// with `error` set when OUT cannot be written; false with `error` empty
// when the encoder refused the rows or had no memory.
bool toolWritePicture(std::string_view out, const std::uint8_t* rows, std::int32_t width, std::int32_t height,
                      std::int32_t pitch, std::int32_t depth, ToolContext& context, std::string& error);

// The bitmap a record rebuilt from its levels (octHandle) as a PNG file
// `fileName`: 1 for a saved file, else 0. The file is replaced only when the
// new one is complete.
bool toolSaveRebuiltPng(OctImage* record, const char16_t* fileName);

}  // namespace oct::tool
