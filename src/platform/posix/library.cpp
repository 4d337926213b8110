// Run-time libraries and display probes on Linux. The libraries that the
// runtime asks for by name ("msimg32.dll", "COMCTL32.DLL", "uxtheme.dll",
// "Kernel32.dll") are Windows system libraries with no Linux counterpart, so
// every load reports that the library is missing and callers take their
// documented fallbacks. There is no display device either: 96 pixels per inch.
#include "platform/libraries.h"

namespace oct::plat {

Library* libraryLoad(const char16_t*) { return nullptr; }
void* libraryProc(Library*, const char*) { return nullptr; }
void libraryFree(Library*) {}

int displayPixelsPerInchY() { return 96; }

}  // namespace oct::plat
