// Failure loops: a path of the library runs again and again with its n-th
// fallible call of one kind failing (n = 1, 1 + stride, …) until a run meets
// no injected failure. Every run must end in a clean failure or in the
// result of the run without failures, and leave every live count where the
// run without failures left it; a stop and start of the runtime at the end
// must bring the counts back to those of a fresh start.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "platform/fail_inject.h"
#include "runtime/heap.h"

namespace octtest {

// Blocks of the test program's operator new not yet deleted (counted_new.cpp).
std::int64_t cppLiveBlocks();

// Everything that a path may leak.
struct LiveCounts {
    oct::MemLiveBlocks heaps;
    std::int64_t crt;      // plat::crtAlloc blocks
    std::int64_t cpp;      // operator new blocks
    std::int64_t objects;  // bitmaps, icons and fonts
    std::int64_t com;      // COM reference holders and thread initialisations (Windows)
    bool operator==(const LiveCounts&) const = default;
};
LiveCounts liveCounts();
std::string describe(const LiveCounts& counts);

// A path of the library, in steps. `setup` runs after the runtime has been
// started afresh and makes what the runs share; `run` is the library's work
// alone, with the failure set (it makes no allocation of its own); `finish`
// runs with nothing failing: it checks what a failed run must have left as
// it was (a failed check is a gtest failure), releases what the run made, and
// gives the run's result as a fingerprint, or nothing for a clean failure.
// `teardown` releases what setup made.
struct FailCase {
    const char* name;
    std::function<void()> setup;
    std::function<std::int64_t()> run;
    std::function<std::optional<std::uint64_t>(std::int64_t)> finish;
    std::function<void()> teardown;
    bool large = false;  // many calls: a stride in the reduced form
};

struct FailLoopReport {
    std::int64_t calls = 0;   // calls of the kind in a run without failures
    std::int64_t runs = 0;    // runs with a failure injected
    std::int64_t failed = 0;  // of those, the runs that ended in a clean failure
    std::int64_t stride = 1;
};

// The full form (every n) when OCT_FAIL_FULL=1 is set.
bool failFullForm();

// Runs the loop for `kind` over the case: every n in the full form and for
// small cases, else at most `maxRuns` runs spread evenly over the calls.
// gtest failures for every broken rule, each with the n that broke it. A case
// with no call of `kind` runs only without failures.
FailLoopReport runFailLoop(const FailCase& c, oct::plat::FailKind kind, std::int64_t maxRuns);

const char* failKindName(oct::plat::FailKind kind);

}  // namespace octtest
