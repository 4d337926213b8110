// The thread-exit registry: callbacks that run once after a thread has ended.
//
// Each thread that registers something gets a record with its callbacks,
// newest first, and a watch of the platform (a wait on the thread's handle on
// Windows, a thread-local destructor on Linux) that runs the record once the
// thread is gone. Records still pending at module stop are run by the shutdown.
#pragma once

namespace oct {

using ThreadExitCallback = void (*)(void* data);

// Arranges for callback(data) to run once after the calling thread has ended,
// or at module stop, whichever comes first. A thread's callbacks run together,
// the most recently registered first, never on the ended thread's own state:
// everything they need travels in `data`. The registration is dropped
// silently when its bookkeeping cannot be allocated.
void thrAtExit(ThreadExitCallback callback, void* data);

// First stop step: runs every record still pending (newest thread first) and
// closes the registry. When it returns no callback of the registry is running
// or can still start; a later thrAtExit opens the registry again.
void thrExitShutdown();

// Number of threads whose records are still pending (a diagnostic for tests).
int thrExitPendingThreads();

}  // namespace oct
