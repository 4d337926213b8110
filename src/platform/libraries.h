// Run-time libraries and capability probes: a system library loaded by name
// and its entry points looked up, for the capabilities that only some
// systems have; and the display's facts.
#pragma once

namespace oct::plat {

// A library loaded by name at run time, or null. On Linux none of the Windows
// system libraries that the probes ask for exist, so loading them gives null.
struct Library;
Library* libraryLoad(const char16_t* name);
void* libraryProc(Library* library, const char* name);
void libraryFree(Library* library);

// Vertical pixels per logical inch of the display; 96 when there is no display.
int displayPixelsPerInchY();

}  // namespace oct::plat
