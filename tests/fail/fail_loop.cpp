#include "fail/fail_loop.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "platform/fail_inject.h"
#include "platform/fonts.h"
#include "runtime/module.h"

namespace octtest {

namespace plat = oct::plat;

LiveCounts liveCounts() {
    return {oct::memLiveBlocks(), plat::crtLiveBlocks(), cppLiveBlocks(), plat::liveObjects(), plat::liveComHolds()};
}

std::string describe(const LiveCounts& c) {
    return "main " + std::to_string(c.heaps.main) + ", strings " + std::to_string(c.heaps.strings) + ", memory " +
           std::to_string(c.heaps.memory) + ", crt " + std::to_string(c.crt) + ", new " + std::to_string(c.cpp) +
           ", objects " + std::to_string(c.objects) + ", COM " + std::to_string(c.com);
}

bool failFullForm() {
    const char* full = std::getenv("OCT_FAIL_FULL");
    return full && std::strcmp(full, "1") == 0;
}

const char* failKindName(plat::FailKind kind) {
    switch (kind) {
        case plat::FailKind::Alloc: return "allocation";
        case plat::FailKind::FileOpen: return "file open";
        case plat::FailKind::FileRead: return "file read";
        case plat::FailKind::FileWrite: return "file write";
        case plat::FailKind::Bitmap: return "bitmap";
        case plat::FailKind::DibSection: return "DIB section";
        case plat::FailKind::Icon: return "icon";
        case plat::FailKind::Font: return "font";
        case plat::FailKind::Codec: return "picture codec";
    }
    return "?";
}

namespace {

// Ends any failing when the loop leaves, also through a fatal gtest failure.
struct FailingOff {
    ~FailingOff() { plat::failNone(); }
};

void restartRuntime() {
    oct::modStopAll();
    oct::modStartAll();
}

}  // namespace

namespace {

std::optional<std::uint64_t> runOnce(const FailCase& c, plat::FailKind kind, std::int64_t n, bool& injected) {
    plat::failCallAt(kind, n);
    const std::int64_t result = c.run();
    injected = plat::failInjected(kind);
    plat::failNone();
    return c.finish(result);
}

}  // namespace

FailLoopReport runFailLoop(const FailCase& c, plat::FailKind kind, std::int64_t maxRuns) {
    FailLoopReport report;
    FailingOff off;
    const std::string what = std::string(c.name) + ", " + failKindName(kind) + " failing";

    restartRuntime();
    // The stock font is made on first use and shared for the rest of the
    // process (on Linux it is one of the layer's objects); made here, it is
    // in every count.
    plat::fontStock();
    const LiveCounts fresh = liveCounts();
    if (c.setup) c.setup();

    // The run without failures: the expected result and the count of calls.
    // It also makes whatever the runtime keeps after a first use (per-thread
    // areas, font tables), so that later runs are measured against it.
    bool injected = false;
    const std::optional<std::uint64_t> expected = runOnce(c, kind, INT64_MAX, injected);
    report.calls = plat::failCallsSeen(kind);
    LiveCounts settled = liveCounts();
    if (!expected) {
        ADD_FAILURE() << what << ": the run without failures failed";
    } else {
        if (runOnce(c, kind, INT64_MAX, injected) != expected)
            ADD_FAILURE() << what << ": a second run without failures gives another result";
        if (liveCounts() != settled)
            ADD_FAILURE() << what << ": a second run without failures leaks: " << describe(liveCounts())
                          << " after " << describe(settled);
        report.stride = failFullForm() || !c.large || report.calls <= maxRuns ? 1 : (report.calls + maxRuns - 1) / maxRuns;
        for (std::int64_t n = 1; report.calls > 0; n += report.stride) {
            const std::optional<std::uint64_t> got = runOnce(c, kind, n, injected);
            if (!injected) {
                if (got != expected) ADD_FAILURE() << what << ": the run past the last call (n " << n << ") differs";
                break;
            }
            ++report.runs;
            if (!got)
                ++report.failed;
            else if (*got != *expected)
                ADD_FAILURE() << what << " at call " << n << " of " << report.calls
                              << ": reported success with another result";
            LiveCounts now = liveCounts();
            if (now != settled) {
                // A failure may send the path where the runtime makes what it
                // keeps after a first use (a file stream's pool, say): the
                // same run again then leaves the counts as they are. A leak
                // grows with every run.
                runOnce(c, kind, n, injected);
                if (liveCounts() == now) {
                    settled = now;
                    continue;
                }
                now = liveCounts();
            }
            if (now != settled) {
                ADD_FAILURE() << what << " at call " << n << " of " << report.calls << ": leaks: " << describe(now)
                              << " where the run without failures left " << describe(settled);
                break;  // later runs would only repeat the report
            }
            // A failure may send the path a longer way (a fallback, a retry),
            // but not without end.
            if (n > 4 * report.calls + 100) {
                ADD_FAILURE() << what << ": still meeting calls at " << n << " where a run without failures makes "
                              << report.calls;
                break;
            }
        }
    }
    if (c.teardown) c.teardown();

    restartRuntime();
    const LiveCounts after = liveCounts();
    if (after != fresh)
        ADD_FAILURE() << what << ": after a stop and start " << describe(after) << " where a fresh start had "
                      << describe(fresh);
    return report;
}

}  // namespace octtest
