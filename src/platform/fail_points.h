// Bookkeeping shared by both backends for the live counts of platform.h:
// each backend reports the bitmaps, icons and fonts it makes and deletes.
#pragma once

namespace oct::plat {

void objectNoteMade();
void objectNoteGone();

}  // namespace oct::plat
