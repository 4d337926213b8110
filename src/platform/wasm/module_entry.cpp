// The WebAssembly module's start: the runtime starts when the module is
// instantiated, before the host calls anything. A module is never unloaded
// (its memory goes with the page or the process), so there is no stop.
#include "runtime/module.h"

namespace {

__attribute__((constructor)) void octModuleLoad() { oct::modStartAll(); }

}  // namespace
