// Failure injection and live counts, for tests: any fallible call of the
// layer (and every allocation of the runtime) can be made to fail at its n-th
// call, and what the layer made and has not ended yet can be counted.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/heaps.h"

namespace oct::plat {

// The fallible calls that a test can make fail. Alloc counts every block
// asked of any heap (heapAlloc, a growing heapRealloc), of crtAlloc, and of
// the C++ allocator when the test program routes it here (failCallCounts).
enum class FailKind {
    Alloc,
    FileOpen,    // fileOpen
    FileRead,    // fileRead
    FileWrite,   // fileWrite
    Bitmap,      // device-dependent bitmaps: an icon's colour bitmap, deviceBitmapCreate
    DibSection,  // every DIB section the layer makes, for callers and for itself
    Icon,        // iconFromResource, iconFromResourceDefault
    Font,        // fontCreate
    Codec,       // the picture codecs: on Windows each COM and WIC call that makes a factory, a decoder or an
                 // encoder, copies pixels or commits; on Linux each codec's open, decode and encode
};
constexpr int kFailKinds = 9;

// Makes the n-th call of `kind` from now fail (n ≥ 1), and with `sticky`
// every call after it too; n ≤ 0 ends the failing of that kind and keeps its
// counts below readable. The count is process-wide, over every thread.
void failCallAt(FailKind kind, std::int64_t n, bool sticky = false);
// Ends the failing of every kind.
void failNone();
// Calls of `kind` seen since failCallAt last set it to fail (those after its
// failing ended not counted), and whether one of them was made to fail.
std::int64_t failCallsSeen(FailKind kind);
bool failInjected(FailKind kind);
// For the backends and the allocation sites: counts one call of `kind` and
// tells whether it must fail. One relaxed load when nothing is set to fail.
bool failThisCall(FailKind kind);
// The same for a call that asks for `bytes` of memory (Alloc, DibSection),
// which also keeps the largest such request: largestRequestSeen gives it
// and, with `reset`, starts again from 0. It lets a test show that a refused
// file never asked for much.
bool failThisCall(FailKind kind, std::uint64_t bytes);
std::uint64_t largestRequestSeen(bool reset = false);

// A block of `size` bytes (zero-filled when `zero`) from the C runtime's
// malloc; null for a size of 0, on exhaustion, or when an injected Alloc
// failure says so. crtFree (or std::free, which the count then misses)
// releases it; crtLiveBlocks counts the blocks not yet given to crtFree.
void* crtAlloc(std::size_t size, bool zero);
void crtFree(void* block);
std::int64_t crtLiveBlocks();

// Blocks allocated from `heap` and not yet freed (0 for null).
std::int64_t heapLiveBlocks(Heap* heap);
// Bitmaps, icons and fonts that the layer made and that were not deleted
// yet (the stock font not counted).
std::int64_t liveObjects();
// Holders of COM references and COM initialisations of threads that the
// layer made and has not ended (0 where there is no COM): a reference or an
// initialisation left behind shows here.
std::int64_t liveComHolds();

// A disk that fills up, for tests: after the next `count` calls of fileWrite,
// every one fails (−1, nothing written) until this is called with a negative
// count, which ends the failing. The same as failCallAt(FailKind::FileWrite,
// count + 1, true).
void fileFailWritesAfter(std::int64_t count);

}  // namespace oct::plat
