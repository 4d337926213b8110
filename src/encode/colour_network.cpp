#include "encode/colour_network.h"

#include <cmath>
#include <utility>

#include "runtime/heap.h"

namespace oct {
namespace {

constexpr std::int64_t kPixelsPerFactor = 262144;
constexpr std::int32_t kMaxFactor = 10;
constexpr double kStartRate = 1024;    // learning rate α at the start
constexpr double kStartRadius = 32;    // neighbourhood radius at the start, for 16 and for 256 neurons
constexpr double kRadiusDecay = 30;
constexpr double kNeighbourScale = 262144;  // 2^18: radius powers are 2^8 × α at most
constexpr double kFarAway = 1073741824;     // 2^30, more than any distance

double square(std::int32_t v) { return static_cast<double>(v * v); }

// The gamma-corrected colour of a pixel's bytes; a transparent pixel has none.
struct Sample {
    std::int32_t a, r, g, b;
};
Sample gammaSample(const double* gt, std::uint32_t a, std::uint32_t r, std::uint32_t g, std::uint32_t b) {
    if (a == 0) return {0, 0, 0, 0};
    return {static_cast<std::int32_t>(a), static_cast<std::int32_t>(gt[r]), static_cast<std::int32_t>(gt[g]),
            static_cast<std::int32_t>(gt[b])};
}

// The neuron nearest the sample (by bias-corrected distance), after ageing
// every neuron's frequency and bias.
std::int32_t contest(ColourNetwork& net, double a, double r, double g, double b, double w) {
    double bestd = kFarAway, bestbiasd = kFarAway;
    std::int32_t bestpos = 0, bestbiaspos = 0;
    for (std::int32_t k = 0; k < net.size; ++k) {
        const double* n = net.neurons[k];
        const double dist = (w * std::fabs(n[kNeuronGreen] - g) +
                             (w * std::fabs(n[kNeuronRed] - r) + w * std::fabs(n[kNeuronBlue] - b))) +
                            std::fabs(n[kNeuronAlpha] - a);
        if (dist < bestd) {
            bestd = dist;
            bestpos = k;
        }
        const double biasd = dist - net.bias[k];
        if (biasd < bestbiasd) {
            bestbiasd = biasd;
            bestbiaspos = k;
        }
        const double f = net.frequency[k] / 1024;
        net.frequency[k] -= f;
        net.bias[k] += f * 1024;
    }
    net.frequency[bestpos] += 1.0 / 1024;
    net.bias[bestpos] -= 1;
    return bestbiaspos;
}

// Moves neuron k towards the sample v by rate / scale.
void moveNeuron(double* n, const double* v, double rate, double scale) {
    for (int c = 0; c < 4; ++c) n[c] -= (n[c] - v[c]) * rate / scale;
}

}  // namespace

SamplingPlan palSamplingPlan(std::int64_t pixels) {
    SamplingPlan p{};
    const std::int64_t factor = pixels / kPixelsPerFactor + 1;
    p.factor = static_cast<std::int32_t>(factor < kMaxFactor ? factor : kMaxFactor);
    p.byteCount = 4 * pixels;
    p.samples = p.byteCount / (4 * p.factor);
    p.delta = p.samples / 100;
    if (p.delta == 0) p.delta = 1;
    // Prime multiples of 4 bytes that do not divide the byte count, so that
    // successive samples land all over the picture.
    if (p.byteCount % 499 != 0)
        p.step = 4 * 499;
    else if (p.byteCount % 491 != 0)
        p.step = 4 * 491;
    else if (p.byteCount % 487 != 0)
        p.step = 4 * 487;
    else
        p.step = 4 * 503;
    p.alphaDecay = 30 + (p.factor - 1) / 3;
    return p;
}

double palAlphaWeight(std::uint32_t a) {
    const double t = 1 - a / 255.0;
    return 1 - t * t;
}

std::uint8_t palColourByte(double v, double gamma) {
    if (v < 0) return 0;
    const double t = std::floor(((std::pow(v / 255, gamma) * 255) / 255) * 256);
    return static_cast<std::uint8_t>(t < 255 ? t : 255);
}

std::uint8_t palAlphaByte(double v) {
    if (v < 0) return 0;
    const double t = std::floor(v / 255 * 256);
    return static_cast<std::uint8_t>(t < 255 ? t : 255);
}

ColourNetwork* palNetworkCreate(const std::uint8_t* pixels, std::int64_t byteCount, std::int32_t size) {
    auto* net = static_cast<ColourNetwork*>(memMainAlloc(sizeof(ColourNetwork)));
    if (!net) return nullptr;
    net->pixels = pixels;
    net->byteCount = byteCount;
    net->size = size;
    net->gamma = kPaletteGamma;
    for (int i = 0; i < 256; ++i)
        net->gammaTable[i] = std::floor(std::pow(i / 255.0, 1 / net->gamma) * 255 + 0.5);
    for (std::int32_t j = 0; j < size; ++j) {
        const double gray = net->gammaTable[256 * j / size];
        net->neurons[j][kNeuronAlpha] = j < 16 ? 16 * j : 255;
        net->neurons[j][kNeuronRed] = gray;
        net->neurons[j][kNeuronGreen] = gray;
        net->neurons[j][kNeuronBlue] = gray;
        net->bias[j] = 0;
        net->frequency[j] = 1.0 / size;
    }
    return net;
}

void palLearn(ColourNetwork& net, const SamplingPlan& plan) {
    const double alphadec = plan.alphaDecay;
    double alpha = kStartRate, radius = kStartRadius;
    std::int32_t rad = static_cast<std::int32_t>(kStartRadius);
    double* rp = net.radiusPowers;
    for (std::int32_t d = 0; d < rad; ++d) rp[d] = std::floor((1024.0 - d * d) * 256 / 1024) * 1024;

    std::int64_t pos = 0;
    for (std::int64_t i = 0; i < plan.samples; ++i) {
        const std::uint8_t* p = net.pixels + pos;
        const Sample s = gammaSample(net.gammaTable, p[3], p[2], p[1], p[0]);
        const double v[4] = {static_cast<double>(s.a), static_cast<double>(s.r), static_cast<double>(s.g),
                             static_cast<double>(s.b)};
        const std::int32_t j = contest(net, v[kNeuronAlpha], v[kNeuronRed], v[kNeuronGreen], v[kNeuronBlue],
                                       palAlphaWeight(p[3]));
        moveNeuron(net.neurons[j], v, alpha, 1024);
        for (std::int32_t d = 1; d < rad; ++d) {
            if (j + d <= net.size - 1) moveNeuron(net.neurons[j + d], v, rp[d], kNeighbourScale);
            if (j - d >= 0) moveNeuron(net.neurons[j - d], v, rp[d], kNeighbourScale);
        }
        pos += plan.step;
        if (pos >= plan.byteCount) pos %= plan.byteCount;

        if ((i + 1) % plan.delta == 0) {
            alpha -= alpha / alphadec;
            radius -= radius / kRadiusDecay;
            rad = static_cast<std::int32_t>(radius);
            if (rad <= 1) rad = 0;
            for (std::int32_t d = 0; d < rad; ++d)
                rp[d] = std::floor(static_cast<double>((rad * rad - d * d) * 256 / (rad * rad)) * alpha);
        }
    }
}

void palBuildIndex(ColourNetwork& net) {
    const std::int32_t n = net.size;
    for (std::int32_t k = 0; k < n; ++k) {
        const double* v = net.neurons[k];
        std::uint8_t* c = net.colourMap[k];
        c[kBlue] = static_cast<std::uint8_t>(net.gammaTable[palColourByte(v[kNeuronBlue], net.gamma)]);
        c[kGreen] = static_cast<std::uint8_t>(net.gammaTable[palColourByte(v[kNeuronGreen], net.gamma)]);
        c[kRed] = static_cast<std::uint8_t>(net.gammaTable[palColourByte(v[kNeuronRed], net.gamma)]);
        c[kAlpha] = palAlphaByte(v[kNeuronAlpha]);
    }
    std::int32_t prev = 0, start = 0;
    for (std::int32_t i = 0; i < n; ++i) {
        std::int32_t smallest = i;
        for (std::int32_t j = i + 1; j < n; ++j)
            if (net.colourMap[j][kGreen] < net.colourMap[smallest][kGreen]) smallest = j;
        if (smallest != i) {
            for (int c = 0; c < 4; ++c) {
                std::swap(net.neurons[i][c], net.neurons[smallest][c]);
                std::swap(net.colourMap[i][c], net.colourMap[smallest][c]);
            }
        }
        const std::int32_t g = net.colourMap[i][kGreen];
        if (g != prev) {
            net.greenIndex[prev] = (start + i) / 2;
            for (std::int32_t v = prev + 1; v < g; ++v) net.greenIndex[v] = i;
            prev = g;
            start = i;
        }
    }
    net.greenIndex[prev] = (start + n - 1) / 2;
    for (std::int32_t v = prev + 1; v < 256; ++v) net.greenIndex[v] = n - 1;
}

std::int32_t palSearch(const ColourNetwork& net, std::uint32_t a, std::uint32_t r, std::uint32_t g,
                       std::uint32_t b) {
    const Sample s = gammaSample(net.gammaTable, a, r, g, b);
    const double w = palAlphaWeight(a);
    double bestd = kFarAway;
    std::int32_t best = 0;
    std::int32_t i = net.greenIndex[s.g], j = i - 1;
    while (i < net.size || j >= 0) {
        if (i < net.size) {
            const std::uint8_t* c = net.colourMap[i];
            const double dg = w * square(c[kGreen] - s.g);
            if (dg > bestd) break;
            const double d = dg + w * square(c[kBlue] - s.b) + w * square(c[kRed] - s.r) + square(c[kAlpha] - s.a);
            if (d < bestd) {
                bestd = d;
                best = i;
            }
            ++i;
        }
        if (j >= 0) {
            const std::uint8_t* c = net.colourMap[j];
            const double dg = w * square(c[kGreen] - s.g);
            if (dg > bestd) break;
            const double d = dg + w * square(c[kRed] - s.r) + w * square(c[kBlue] - s.b) + square(c[kAlpha] - s.a);
            if (d < bestd) {
                bestd = d;
                best = j;
            }
            --j;
        }
    }
    return best;
}

}  // namespace oct
