#include "runtime/module.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "image/alpha.h"
#include "image/blend.h"
#include "image/font.h"

namespace oct {
namespace {

std::vector<std::string> gSteps;
void observe(const char* step, bool starting) { gSteps.push_back(std::string(starting ? "+" : "-") + step); }

TEST(Module, StartsAndStopsInTheFixedOrders) {
    gSteps.clear();
    modSetObserver(observe);
    modStopAll();
    modStartAll();
    modSetObserver(nullptr);
    const std::vector<std::string> expected = {
        "-thread exits", "-packer",   "-files",          "-images",          "-image blending", "-fonts",
        "-per-thread areas", "-drawing", "-memory", "-strings",      "-heap",
        "+heap",         "+strings",  "+fonts",          "+memory",          "+vector drawing", "+image decoders",
        "+bmp codec",    "+image blending", "+structure maps", "+images",    "+drawing",        "+files",
        "+packer",       "+packer codecs",
    };
    EXPECT_EQ(gSteps, expected);
}

TEST(Module, PlatformProbesHaveTheirFallbacks) {
    // Headless: no display device, so the resolution falls back to 96.
    EXPECT_GT(fntScreenPixelsPerInchY(), 0);
#ifdef _WIN32
    EXPECT_NE(imgAlphaBlendEntry(), nullptr);
#else
    EXPECT_EQ(fntScreenPixelsPerInchY(), 96);
    EXPECT_EQ(imgAlphaBlendEntry(), nullptr);
    EXPECT_FALSE(imgVisualStylesActive());
#endif
}

}  // namespace
}  // namespace oct
