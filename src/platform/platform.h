// The only interface between the core and an operating system.
//
// Everything here is phrased in the library's own terms: heaps, libraries and
// entry points, display facts. src/platform/win32 implements it with the
// Windows API; src/platform/posix gives the same results on Linux with the
// library's own objects. Nothing outside src/platform includes an OS header.
#pragma once

#include <cstddef>
#include <cstdint>

namespace oct::plat {

// ---------------------------------------------------------------------------
// Heaps
// ---------------------------------------------------------------------------

// A private, growable heap whose operations may be called from any thread.
// Destroying it frees every block still allocated from it.
struct Heap;

// Creates a heap (initial size 4,096 bytes, no maximum). Null on failure.
Heap* heapCreate();
// Destroys the heap and every block in it. Null does nothing.
void heapDestroy(Heap* heap);
// A block of `size` bytes (size ≥ 1), zero-filled when `zero`; null when the
// heap cannot supply it.
void* heapAlloc(Heap* heap, std::size_t size, bool zero);
// Resizes a block; bytes beyond the old size are zero when `zeroNew`. On
// failure returns null and the old block stays valid.
void* heapRealloc(Heap* heap, void* block, std::size_t size, bool zeroNew);
// Returns a block to its heap. Null does nothing.
void heapFree(Heap* heap, void* block);

// ---------------------------------------------------------------------------
// Run-time libraries and capability probes
// ---------------------------------------------------------------------------

// A library loaded by name at run time, or null. On Linux none of the Windows
// system libraries that the probes ask for exist, so loading them gives null.
struct Library;
Library* libraryLoad(const char16_t* name);
void* libraryProc(Library* library, const char* name);
void libraryFree(Library* library);

// Vertical pixels per logical inch of the display; 96 when there is no display.
int displayPixelsPerInchY();

// ---------------------------------------------------------------------------
// Console
// ---------------------------------------------------------------------------

// True when the process's standard error goes to a terminal (a console on
// Windows), so that output meant for a person there, such as a progress bar,
// may be drawn.
bool stderrIsTerminal();

}  // namespace oct::plat
