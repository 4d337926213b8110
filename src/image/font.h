// The font module, started and stopped beside the images: the font table (no
// operation of the library creates a font yet) and the display's vertical
// resolution, which text drawing scales point sizes by.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace oct {

// The font table's record: one font handle, non-zero while the font is live.
struct FontObject {
    plat::Handle handle;
};

// Start step: creates the font table and records the display's vertical
// pixels per inch (96 without a display).
void fntStartModule();
// Stop step: deletes every font still in the font table.
void fntStopModule();
// Deletes one font, or every font for AnyId. The font table's free callback.
void fntFreeFont(std::int64_t id);

// The vertical pixels per logical inch recorded at start.
int fntScreenPixelsPerInchY();

}  // namespace oct
