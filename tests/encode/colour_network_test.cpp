#include "encode/colour_network.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "runtime/heap.h"

namespace oct {
namespace {

TEST(ColourNetwork, SamplingPlanBySize) {
    struct Case {
        const char* name;
        std::int64_t pixels;
        std::int32_t factor;
        std::int64_t step;
        std::int64_t samples;
    };
    const Case cases[] = {
        {"small picture: every pixel", 1000, 1, 1996, 1000},
        {"just below 262144 pixels", 262143, 1, 1996, 262143},
        {"262144 pixels", 262144, 2, 1996, 131072},
        {"1024 x 768", 1024 * 768, 4, 1996, 196608},
        {"9 x 262144 pixels", 2359296, 10, 1996, 235929},
        {"largest factor stays 10", 50000000, 10, 1996, 5000000},
        {"499 pixels: 1996 bytes, a multiple of 499", 499, 1, 1964, 499},
        {"multiple of 499 and 491", 499 * 491, 1, 1948, 499 * 491},
        {"multiple of 499, 491 and 487", 499 * 491 * 487, 10, 2012, 499 * 491 * 487 / 10},
        // From 2^29 pixels on, 4 × pixels does not fit 32 bits: a wrapped count
        // would give a negative sample count here, and another step below.
        {"2^29 pixels", std::int64_t{1} << 29, 10, 1996, (std::int64_t{1} << 31) / 40},
        {"499 x 2^21 pixels", std::int64_t{499} << 21, 10, 1964, (std::int64_t{499} << 23) / 40},
    };
    for (const Case& c : cases) {
        const SamplingPlan p = palSamplingPlan(c.pixels);
        EXPECT_EQ(p.factor, c.factor) << c.name;
        EXPECT_EQ(p.byteCount, 4 * c.pixels) << c.name;
        EXPECT_EQ(p.step, c.step) << c.name;
        EXPECT_EQ(p.samples, c.samples) << c.name;
        EXPECT_EQ(p.delta, c.samples / 100 > 0 ? c.samples / 100 : 1) << c.name;
        EXPECT_EQ(p.alphaDecay, 30 + (c.factor - 1) / 3) << c.name;
    }
    EXPECT_EQ(palSamplingPlan(0).delta, 1);
    EXPECT_EQ(palSamplingPlan(0).samples, 0);
}

TEST(ColourNetwork, ConversionsBackToBytes) {
    struct Case {
        double v;
        int colour, alpha;
    };
    const Case cases[] = {{-0.5, 0, 0}, {0, 0, 0}, {1, 0, 1}, {100, 47, 100}, {128.5, 74, 129},
                          {254, 254, 254}, {254.9, 255, 255}, {255, 255, 255}, {300, 255, 255}};
    for (const Case& c : cases) {
        EXPECT_EQ(palColourByte(c.v, kPaletteGamma), c.colour) << c.v;
        EXPECT_EQ(palAlphaByte(c.v), c.alpha) << c.v;
    }
    EXPECT_EQ(palAlphaWeight(0), 0.0);
    EXPECT_EQ(palAlphaWeight(255), 1.0);
    EXPECT_EQ(palAlphaWeight(170), 1 - (1 - 170 / 255.0) * (1 - 170 / 255.0));
}

struct NetworkDeleter {
    void operator()(ColourNetwork* n) const { memMainFree(n); }
};
using Network = std::unique_ptr<ColourNetwork, NetworkDeleter>;

TEST(ColourNetwork, StartingStateAndGammaTable) {
    Network net(palNetworkCreate(nullptr, 0, 16));
    ASSERT_TRUE(net);
    const double* gt = net->gammaTable;
    // Some values, and a weighted sum of all: the same on every build.
    EXPECT_EQ(gt[0], 0);
    EXPECT_EQ(gt[1], 12);
    EXPECT_EQ(gt[19], 60);
    EXPECT_EQ(gt[128], 174);
    EXPECT_EQ(gt[255], 255);
    double weighted = 0;
    for (int i = 0; i < 256; ++i) weighted += (i + 1) * gt[i];
    EXPECT_EQ(weighted, 6562872);
    for (int j = 0; j < 16; ++j) {
        EXPECT_EQ(net->neurons[j][kNeuronAlpha], 16 * j);
        EXPECT_EQ(net->neurons[j][kNeuronGreen], gt[16 * j]);
        EXPECT_EQ(net->frequency[j], 1.0 / 16);
    }
    Network big(palNetworkCreate(nullptr, 0, 256));
    ASSERT_TRUE(big);
    EXPECT_EQ(big->neurons[15][kNeuronAlpha], 240);
    EXPECT_EQ(big->neurons[16][kNeuronAlpha], 255);
    EXPECT_EQ(big->neurons[200][kNeuronRed], gt[200]);
}

// Five neurons of green 255 then eleven of green 0, told apart by alpha 16 j.
TEST(ColourNetwork, SortByGreenIsASelectionSortAndIndexesTheRuns) {
    Network net(palNetworkCreate(nullptr, 0, 16));
    ASSERT_TRUE(net);
    for (int j = 0; j < 16; ++j) {
        net->neurons[j][kNeuronGreen] = j < 5 ? 255 : 0;
        net->neurons[j][kNeuronRed] = net->neurons[j][kNeuronBlue] = 0;
    }
    palBuildIndex(*net);
    // Each swap sends a green-255 neuron to the back, so those five end up
    // out of their first order: not a stable sort.
    const int alphas[16] = {80, 96, 112, 128, 144, 160, 176, 192, 208, 224, 240, 16, 32, 48, 64, 0};
    for (int k = 0; k < 16; ++k) {
        EXPECT_EQ(net->colourMap[k][kAlpha], alphas[k]) << k;
        EXPECT_EQ(net->colourMap[k][kGreen], k < 11 ? 0 : 255) << k;
        EXPECT_EQ(net->neurons[k][kNeuronGreen], k < 11 ? 0 : 255) << "neurons move with their entries";
    }
    // Green 0 runs 0..10: middle 5; green 255 runs 11..15: middle 13; between: 11.
    EXPECT_EQ(net->greenIndex[0], 5);
    for (int v = 1; v < 255; ++v) ASSERT_EQ(net->greenIndex[v], 11) << v;
    EXPECT_EQ(net->greenIndex[255], 13);
}

// A colour map laid out by hand around a pixel (alpha 255, red 0, green g, blue 0).
class Search : public ::testing::Test {
protected:
    void SetUp() override {
        net_.reset(palNetworkCreate(nullptr, 0, 16));
        ASSERT_TRUE(net_);
        g_ = 200;
        G_ = static_cast<int>(net_->gammaTable[g_]);
    }
    void entry(int k, int green, int red, int alpha = 255) {
        std::uint8_t* c = net_->colourMap[k];
        c[kBlue] = 0;
        c[kGreen] = static_cast<std::uint8_t>(green);
        c[kRed] = static_cast<std::uint8_t>(red);
        c[kAlpha] = static_cast<std::uint8_t>(alpha);
    }
    void startAt(int k) {
        for (int v = 0; v < 256; ++v) net_->greenIndex[v] = k;
    }
    Network net_;
    std::uint32_t g_ = 0;
    int G_ = 0;
};

TEST_F(Search, StopsAtTheFirstEntryWhoseGreenAloneIsTooFar) {
    entry(0, G_ - 10, 0);   // distance 100: the nearest, never reached
    entry(1, G_ - 5, 100);  // 25 + 10000
    entry(2, G_, 15);       // 225: the start, and the answer
    entry(3, G_ + 16, 0);   // green term 256 > 225 ends the whole search
    for (int k = 4; k < 16; ++k) entry(k, 255, 0);
    startAt(2);
    EXPECT_EQ(palSearch(*net_, 255, 0, g_, 0), 2);
    // With the far entry a little nearer in green, the search goes on and finds entry 0.
    entry(3, G_ + 15, 0);
    EXPECT_EQ(palSearch(*net_, 255, 0, g_, 0), 0);
}

TEST_F(Search, TransparentPixelsAreComparedByAlphaAlone) {
    for (int k = 0; k < 16; ++k) entry(k, 16 * k, 255 - 16 * k, 255 - 16 * k);  // alpha 15 at k = 15
    startAt(0);
    for (std::uint32_t colour : {0u, 90u, 255u})
        EXPECT_EQ(palSearch(*net_, 0, colour, 255 - colour, colour), 15) << colour;
    // An opaque pixel of the same bytes goes by its colour.
    EXPECT_EQ(palSearch(*net_, 255, 255, 0, 0), 0);
}

TEST(ColourNetwork, APixelGreenerThanEveryEntryStartsAtTheLast) {
    Network net(palNetworkCreate(nullptr, 0, 16));
    ASSERT_TRUE(net);
    for (int j = 0; j < 16; ++j) {
        net->neurons[j][kNeuronGreen] = 6 * j;  // all below 100
        net->neurons[j][kNeuronRed] = net->neurons[j][kNeuronBlue] = 0;
        net->neurons[j][kNeuronAlpha] = 255;
    }
    palBuildIndex(*net);
    EXPECT_EQ(net->greenIndex[255], 15);
    for (int v = 0; v < 256; ++v) ASSERT_TRUE(net->greenIndex[v] >= 0 && net->greenIndex[v] < 16) << v;
    EXPECT_EQ(palSearch(*net, 255, 0, 255, 0), 15);  // the greenest entry is the nearest
}

TEST(ColourNetwork, TrainingOnOneColourGivesThatColour) {
    // 40 × 40 opaque pixels of blue 30, green 200, red 120.
    std::vector<std::uint8_t> px(4 * 1600);
    for (std::size_t i = 0; i < px.size(); i += 4) px[i] = 30, px[i + 1] = 200, px[i + 2] = 120, px[i + 3] = 255;
    for (std::int32_t size : {16, 256}) {
        Network net(palNetworkCreate(px.data(), static_cast<std::int64_t>(px.size()), size));
        ASSERT_TRUE(net);
        palLearn(*net, palSamplingPlan(1600));
        palBuildIndex(*net);
        const std::int32_t k = palSearch(*net, 255, 120, 200, 30);
        const double* n = net->neurons[k];
        EXPECT_NEAR(palColourByte(n[kNeuronBlue], kPaletteGamma), 30, 2) << size;
        EXPECT_NEAR(palColourByte(n[kNeuronGreen], kPaletteGamma), 200, 2) << size;
        EXPECT_NEAR(palColourByte(n[kNeuronRed], kPaletteGamma), 120, 2) << size;
        EXPECT_NEAR(palAlphaByte(n[kNeuronAlpha]), 255, 1) << size;
        for (int c = 1; c < size; ++c) ASSERT_LE(net->colourMap[c - 1][kGreen], net->colourMap[c][kGreen]);
    }
}

}  // namespace
}  // namespace oct
