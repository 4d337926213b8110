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
// before it runs.
void modRunSteps(std::span<const ModuleStep> steps, bool starting);

// Runs the start sequence: main heap, then every module in start order.
// Called once, on process attach (or by a test fixture for the static core).
void modStartAll();

// Runs the stop sequence, ending with the main heap. Blocks never freed go
// with their heaps.
void modStopAll();

// Test-only observation of the step order: called with each step's name just
// before it runs. Null removes the observer.
using ModuleObserver = void (*)(const char* step, bool starting);
void modSetObserver(ModuleObserver observer);

}  // namespace oct
