// Module start and stop.
//
// The runtime brings its modules up in one fixed order and down in another.
// Each order is a table of named steps; a step of a module that has nothing to
// set up is present, empty, in its place.
#pragma once

#include <span>

namespace oct {

struct ModuleStep {
    const char* name;
    void (*run)();
};

// Runs the steps in table order, reporting each to the observer (if any)
// before it runs. False when a step reported with modStepFailed that it
// could not do all of its work; the later steps run all the same.
bool modRunSteps(std::span<const ModuleStep> steps, bool starting);

// Called by a running step that could not do all of its work, such as a
// registry that refused an entry: the run of steps then answers false.
void modStepFailed();

// Runs the start sequence: main heap, then every module in start order.
// Called once, on process attach (or by a test fixture for the static core).
// False when a step failed; what did start is stopped by modStopAll as usual.
bool modStartAll();

// Runs the stop sequence, ending with the main heap. Blocks never freed go
// with their heaps.
void modStopAll();

// Test-only observation of the step order: called with each step's name just
// before it runs. Null removes the observer.
using ModuleObserver = void (*)(const char* step, bool starting);
void modSetObserver(ModuleObserver observer);

}  // namespace oct
