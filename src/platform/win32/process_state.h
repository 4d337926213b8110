// What the Windows module entry tells the rest of the backend.
#pragma once

namespace oct::plat {

// Called by the module entry when the library is detached because the process
// is ending (not by FreeLibrary): every other thread is gone by then, so
// nothing may wait for work on another thread.
void processEnding();

}  // namespace oct::plat
