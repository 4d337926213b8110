// The colour network of palette reduction: a self-organising map of 16 or 256
// neurons (alpha, red, green, blue in a gamma-corrected 0..255 scale) trained
// on a sample of the pixels, then turned into a colour map sorted by green
// with an index that tells a search where to start.
//
// Every step computes in doubles in a fixed order, so that the palette is the
// same bytes on every build (the project compiles without fused multiply-add
// and without fast-math).
#pragma once

#include <cstdint>

namespace oct {

constexpr int kMaxNeurons = 256;
constexpr double kPaletteGamma = 1.8;

// Where the training samples come from, for `pixels` pixels of 4 bytes.
// Byte counts are 64-bit: 4 × pixels no longer fits 32 bits from 2^29
// pixels on, and a wrapped count would pick another step and sample count.
struct SamplingPlan {
    std::int32_t factor;       // s = pixels / 262144 + 1, at most 10
    std::int64_t byteCount;    // L = 4 × pixels
    std::int64_t samples;      // L / (4 × s)
    std::int64_t delta;        // samples between two cuts of rate and radius; at least 1
    std::int64_t step;         // bytes between samples: 4 × 499, 491, 487 or 503
    std::int32_t alphaDecay;   // 30 + (s − 1) / 3
};
SamplingPlan palSamplingPlan(std::int64_t pixels);

struct ColourNetwork {
    const std::uint8_t* pixels;     // the reducer's pixels: blue, green, red, alpha
    std::int64_t byteCount;         // 4 × width × height
    double neurons[kMaxNeurons][4];  // alpha, red, green, blue; gamma-corrected scale
    std::int32_t greenIndex[256];   // per gamma-corrected green: where a search starts
    double bias[kMaxNeurons];
    double frequency[kMaxNeurons];
    double radiusPowers[32];        // neighbourhood strength by distance
    std::int32_t size;              // n: 16 or 256
    double gamma;                   // 1.8
    double gammaTable[256];         // gt[i] = ⌊(i / 255)^(1/gamma) × 255 + 0.5⌋
    std::uint8_t colourMap[kMaxNeurons][4];  // after training: blue, green, red (gamma-corrected), alpha
};

// Neuron components, in the order of ColourNetwork::neurons.
enum NeuronPart { kNeuronAlpha = 0, kNeuronRed = 1, kNeuronGreen = 2, kNeuronBlue = 3 };
// Colour map and palette bytes.
enum PaletteByte { kBlue = 0, kGreen = 1, kRed = 2, kAlpha = 3 };

// A network of `size` neurons (16 or 256) over `byteCount` bytes of pixels,
// in its starting state: gamma table filled, neuron j gray gt[256 j / n] with
// alpha 16 j (255 from j = 16 on), bias 0, frequency 1 / n. Null when the
// main heap cannot supply it; free it with memMainFree.
ColourNetwork* palNetworkCreate(const std::uint8_t* pixels, std::int64_t byteCount, std::int32_t size);

// Trains the network on the samples of `plan`.
void palLearn(ColourNetwork& net, const SamplingPlan& plan);

// Builds the colour map, sorts the neurons and the map by green (selection
// sort, not stable) and fills the green index.
void palBuildIndex(ColourNetwork& net);

// The colour map position of the pixel (alpha, red, green, blue) by a search
// from its green index outwards that stops at the first entry, in either
// direction, whose green term alone exceeds the best distance so far.
std::int32_t palSearch(const ColourNetwork& net, std::uint32_t a, std::uint32_t r, std::uint32_t g, std::uint32_t b);

// The weight of a pixel's colour by its alpha: 1 − (1 − a / 255)².
double palAlphaWeight(std::uint32_t a);

// From the network's scale back to bytes. Colour: 0 below 0, else
// ⌊(((v / 255)^gamma × 255) / 255) × 256⌋, at most 255. Alpha: 0 below 0,
// else ⌊v / 255 × 256⌋, at most 255.
std::uint8_t palColourByte(double v, double gamma);
std::uint8_t palAlphaByte(double v);

}  // namespace oct
