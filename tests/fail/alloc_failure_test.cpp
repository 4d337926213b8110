// Every public path with its n-th allocation failing, for every n (a stride
// over the larger paths unless OCT_FAIL_FULL=1): a clean failure or the
// right result, and nothing left allocated.
#include <gtest/gtest.h>

#include <cstdio>

#include "fail/fail_cases.h"
#include "platform/fail_inject.h"

namespace octtest {
namespace {

namespace plat = oct::plat;

// Runs per large path in the reduced form: enough to reach every stage of a
// path, few enough for the whole set to stay well under a minute under the
// sanitizers and under wine.
constexpr std::int64_t kReducedRuns = 40;

TEST(AllocationFailure, EveryPublicPathFailsCleanlyOrGivesItsResult) {
    FailCases cases;
    for (const FailCase& c : cases.all()) {
        SCOPED_TRACE(c.name);
        const FailLoopReport r = runFailLoop(c, plat::FailKind::Alloc, kReducedRuns);
        if (failFullForm())
            std::printf("  %-22s %6lld allocations, %5lld runs (stride %lld), %5lld failed cleanly\n", c.name,
                        static_cast<long long>(r.calls), static_cast<long long>(r.runs),
                        static_cast<long long>(r.stride), static_cast<long long>(r.failed));
    }
}

}  // namespace
}  // namespace octtest
