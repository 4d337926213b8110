// Per-thread areas: fixed-size areas that modules register at start. Every
// thread gets one zero-filled block (main heap) holding all of them, made on
// the thread's first use and cleaned up after the thread has ended.
#pragma once

#include <cstdint>

namespace oct {

// Called with the thread's address of the area.
using ThreadAreaFn = void (*)(void* area);

// Registers an area of `size` bytes, rounded up to a multiple of 8, and
// returns its offset. `init` (when given) runs for each thread's block when it
// is made, and right away for the calling thread; `cleanup` runs for each
// thread's block after the thread has ended (or at module stop). Called only
// by module start steps. -1 for a size of 0 or less, or when the slot, the
// calling thread's grown block or the list entry cannot be allocated (the area
// is not registered then).
std::int64_t thrRegisterArea(std::int64_t size, ThreadAreaFn init, ThreadAreaFn cleanup);

// The calling thread's address of the area at `offset`, making the thread's
// block on first use. Null when the offset is not one that registration gave
// out, or when the thread's block cannot be allocated: the operation that
// needs the area must then fail.
void* thrArea(std::int64_t offset);

// Number of threads' blocks made and not yet freed: blocks of threads still
// alive or awaiting their thread-exit clean-up, and the block of a thread that
// registered areas (a diagnostic for tests). The stop step starts it again
// from 0: the blocks it does not free go with the main heap.
std::int64_t thrLiveAreaBlocks();

// Stop step "per-thread areas": frees the slot of the threads' blocks and
// forgets every registration. Blocks of ended threads were cleaned up by the
// thread-exit shutdown before; the rest go with the main heap.
void thrStopAreas();

}  // namespace oct
