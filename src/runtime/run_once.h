// Process-wide run-once.
#pragma once

#include "platform/threads.h"

namespace oct {

// Runs `fn` exactly once for the flag, however many threads call at the same
// time: one caller runs it, the others return only after it has finished.
// Zeroing the flag (when no caller is inside) allows one more run. Uses the
// system's one-time initialisation when there is one, else modRunOnceByFlag.
void modRunOnce(plat::OnceFlag& flag, void (*fn)());

// The runtime's own protocol on the flag word: 0 never run, 1 running,
// 2 done. The caller that moves it from 0 to 1 runs `fn` and then stores 2;
// a caller that finds 1 yields until it reads 2; a caller that finds 2
// returns at once.
void modRunOnceByFlag(plat::OnceFlag& flag, void (*fn)());

}  // namespace oct
