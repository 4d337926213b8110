#include "runtime/module.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "image/alpha.h"
#include "image/blend.h"
#include "image/decoder_registry.h"
#include "image/font.h"
#include "image/formats.h"

namespace oct {
namespace {

std::vector<std::string> gSteps;
void observe(const char* step, bool starting) { gSteps.push_back(std::string(starting ? "+" : "-") + step); }

TEST(Module, StartsAndStopsInTheFixedOrders) {
    gSteps.clear();
    modSetObserver(observe);
    modStopAll();
    EXPECT_TRUE(modStartAll());
    modSetObserver(nullptr);
    const std::vector<std::string> expected = {
        "-thread exits", "-packer", "-files", "-images", "-image codecs", "-image blending", "-fonts",
        "-per-thread areas", "-drawing", "-memory", "-strings", "-heap",
        "+heap", "+strings", "+fonts", "+memory", "+vector drawing", "+image decoders", "+bmp codec",
        "+picture codecs", "+image encoders", "+image blending", "+structure maps", "+images", "+drawing",
        "+files", "+packer", "+packer codecs",
    };
    EXPECT_EQ(gSteps, expected);
}

// The decoders are tried in the order they were registered: BMP first, then
// the pictures of the platform's codecs.
TEST(Module, StartRegistersTheDecodersInTheirOrder) {
    modStopAll();
    ASSERT_TRUE(modStartAll());
    std::vector<std::uint32_t> ids;
    for (const ImageDecoder* decoder : imgDecoders()) ids.push_back(decoder->id);
    EXPECT_EQ(ids, (std::vector<std::uint32_t>{kBmpFormat, kPngFormat, kJpegFormat, kGifFormat, kTiffFormat,
                                               kWebpFormat, kHeifFormat, kAvifFormat, kJxlFormat}));
}

void stepThatWorks() {}
void stepThatFails() { modStepFailed(); }

// A step that could not do its work fails the run, and the later steps
// still run; the next run starts without the old failure.
TEST(Module, AFailedStepFailsTheRunAndTheRestStillRun) {
    gSteps.clear();
    modSetObserver(observe);
    const ModuleStep failing[] = {{"a", stepThatWorks}, {"b", stepThatFails}, {"c", stepThatWorks}};
    const ModuleStep working[] = {{"d", stepThatWorks}, {"e", nullptr}};
    EXPECT_FALSE(modRunSteps(failing, true));
    EXPECT_TRUE(modRunSteps(working, true));
    modSetObserver(nullptr);
    EXPECT_EQ(gSteps, (std::vector<std::string>{"+a", "+b", "+c", "+d", "+e"}));
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
