// The font module, started and stopped beside the images: the font table,
// whose fonts drawing sessions select for their text, and the display's
// vertical resolution, which text drawing scales point sizes by.
#pragma once

#include <cstdint>

#include "platform/fonts.h"
#include "platform/handles.h"

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

// A new font in the table (id AnyId or a number), made from a description:
// the record's address for AnyId, else the font handle; 0 on failure, with
// nothing left behind.
std::int64_t fntCreateFont(std::int64_t id, const plat::LogFont& description);

// The handle of a live font, else 0.
plat::Handle fntFontHandle(std::int64_t id);

// The vertical pixels per logical inch recorded at start.
int fntScreenPixelsPerInchY();

}  // namespace oct
