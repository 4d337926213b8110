#include <gtest/gtest.h>
#include <cstdlib>
#include <cstring>
#include "fail/fail_cases.h"
namespace octtest {
TEST(FailDebug, One) {
    const char* name = std::getenv("DBG_CASE");
    if (!name) GTEST_SKIP();
    int kind = std::atoi(std::getenv("DBG_KIND") ? std::getenv("DBG_KIND") : "0");
    long n = std::atol(std::getenv("DBG_N"));
    FailCases cases;
    for (const FailCase& c : cases.all()) {
        if (std::strcmp(c.name, name)) continue;
        if (c.setup) c.setup();
        c.finish(c.run());
        LiveCounts before = liveCounts();
        oct::plat::failCallAt(static_cast<oct::plat::FailKind>(kind), n);
        std::int64_t r = 0;
        try { r = c.run(); } catch (...) { oct::plat::failNone(); std::printf("THROWN\n"); }
        oct::plat::failNone();
        auto got = c.finish(r);
        std::printf("result %d; %s -> %s\n", got.has_value(), describe(before).c_str(), describe(liveCounts()).c_str());
        if (c.teardown) c.teardown();
    }
}
}
