// One test program per platform. Every test starts from a running runtime, as
// the shared library's module entry would leave it.
#include <gtest/gtest.h>

#include "runtime/module.h"

namespace {

class RuntimeEnvironment : public ::testing::Environment {
public:
    void SetUp() override { ASSERT_TRUE(oct::modStartAll()); }
    void TearDown() override { oct::modStopAll(); }
};

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new RuntimeEnvironment);
    return RUN_ALL_TESTS();
}
