// Bookkeeping shared by both backends for the live counts of
// platform/fail_inject.h: each backend reports the bitmaps, icons and fonts
// it makes and deletes.
#pragma once

namespace oct::plat {

void objectNoteMade();
void objectNoteGone();

// Windows: a holder of a COM reference, or a COM initialisation of a thread,
// made (+1) or ended (−1).
void comNoteHold(int delta);

}  // namespace oct::plat
