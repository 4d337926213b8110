// The commands of octtool, one file each; dispatch.cpp lists them.
#pragma once

#include "tool.h"

namespace oct::tool {

extern const Command kPackCommand;    // pack.cpp
extern const Command kUnpackCommand;  // unpack.cpp
extern const Command kConvertCommand; // convert.cpp
extern const Command kInfoCommand;    // info.cpp
extern const Command kBmpCommand;     // bmp.cpp
extern const Command kArchiveCommand; // archive.cpp
extern const Command kDrawCommand;    // draw.cpp
extern const Command kResizeCommand;  // resize.cpp

}  // namespace oct::tool
