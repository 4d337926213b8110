// Fonts on Linux, for the text routines: the font behind a handle and the
// release of FreeType and fontconfig when the library is unloaded.
#pragma once

#include "platform/handles.h"
#include "platform/posix/objects.h"

namespace oct::plat::posix {

// The live font behind a handle, or null.
Font* fontOf(Handle handle);

// At unloading: deletes the stock font and, when no other font is alive,
// releases fontconfig's configuration and FreeType, so that nothing of them
// outlives the library. A font made after this starts them again.
void fontsRelease();

}  // namespace oct::plat::posix
