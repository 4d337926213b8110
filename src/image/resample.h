// Resampling of packed pixels with a separable cubic filter (Mitchell–Netravali,
// B = C = 1/3): one pass along the rows and one along the columns through an
// intermediate image, each byte of a pixel (blue, green, red, alpha) filtered
// on its own, so that alpha is scaled like any other channel.
//
// Every value is a double and every expression is evaluated in the order
// written here (x² as x·x, x³ as x·x·x, sums from 0.0 left to right; the
// build forbids fused multiply-add), so the bytes are the same on every build
// and platform.
#pragma once

#include <cstdint>

#include "platform/handles.h"

namespace oct {

// The cubic kernel's coefficients for parameters B and C:
// k(x) = P0 + P2·x² + P3·x³ for 0 ≤ x < 1, Q0 + Q1·x + Q2·x² + Q3·x³ for 1 ≤ x < 2, else 0.
struct CubicFilter {
    double p0, p2, p3, q0, q1, q2, q3;
};

// Sets the calling thread's kernel coefficients from B and C (each thread
// has its own, so that resamplings on different threads never race).
void imgSetCubicFilter(double b, double c);
// The calling thread's coefficients (those of B = C = 1/3 until set).
const CubicFilter& imgCubicFilter();
// k(x) for x ≥ 0 with the calling thread's coefficients.
double imgCubicKernel(double x);

// The source indexes and weights that make one output position along one axis.
struct Contribution {
    double* weights;      // last − first + 1 weights, the first for source index `first`
    std::int32_t first;   // first source index
    std::int32_t last;    // last source index
};

// One Contribution per output position, and the weights they point into.
struct ContributionList {
    std::int32_t count;   // output positions
    std::int32_t window;  // room for weights per position: 2·⌈support⌉ + 1
    Contribution* items;
    double* weights;      // count × window
};

// The contributions for scaling `inSize` positions to `outSize`, with the
// filter set to B = C = 1/3 first. Null when a size is 0 or less or the list
// cannot be allocated. Free it with imgFreeContributions.
ContributionList* imgFilterContributions(std::int32_t outSize, std::int32_t inSize);
void imgFreeContributions(ContributionList* list);

// Horizontal pass: `height` rows of srcWidth pixels become rows of dstWidth
// pixels (packed rows, no fill bytes). The two heights must agree. False,
// with nothing written, for a size of 0 or less, heights that differ, a
// pixel size outside 1..4 bytes, or when the weights cannot be allocated.
bool imgResampleRows(const std::uint8_t* src, std::int32_t srcWidth, std::int32_t srcHeight, std::uint8_t* dst,
                     std::int32_t dstWidth, std::int32_t dstHeight, std::int32_t bytesPerPixel);
// Vertical pass: `width` columns of srcHeight pixels become columns of
// dstHeight pixels. The two widths must agree; false as above.
bool imgResampleColumns(const std::uint8_t* src, std::int32_t srcWidth, std::int32_t srcHeight, std::uint8_t* dst,
                        std::int32_t dstWidth, std::int32_t dstHeight, std::int32_t bytesPerPixel);

// Scales packed pixels of sw × sh to dw × dh at bitsPerPixel (8 to 32; its
// eighth is the bytes per pixel). The pass that shrinks the pixel count more
// runs first, so the intermediate image is the smaller of the two possible.
// 1 on success; 0, with nothing written, for a size of 0 or less on either
// side, a bit count outside 8..39, a buffer (source, intermediate or destination)
// above kMaxDibSectionBytes (image/limits.h), or
// when the intermediate image or the weights cannot be allocated.
std::int32_t imgResample(const std::uint8_t* src, std::int32_t sw, std::int32_t sh, std::uint8_t* dst, std::int32_t dw,
                         std::int32_t dh, std::int32_t bitsPerPixel);

// The inner loops of the two passes, in one version per instruction set:
// kPortableResampleLoops for every processor, kAvx2ResampleLoops for those
// with AVX2 (the portable ones again in builds for other processors). Both
// give the same bytes.
struct ResampleLoops {
    void (*rowsPass)(const std::uint8_t* src, std::int32_t sw, std::int32_t height, std::uint8_t* dst,
                     std::int32_t dw, std::int32_t bpp, const ContributionList& list, double* row);
    void (*columnsPass)(const std::uint8_t* src, std::int32_t width, std::uint8_t* dst, std::int32_t dh,
                        std::int32_t bpp, const ContributionList& list, double* ring, std::int64_t* held);
    void (*columnsPassDirect)(const std::uint8_t* src, std::int32_t width, std::uint8_t* dst, std::int32_t dh,
                              std::int32_t bpp, const ContributionList& list);
};
extern const ResampleLoops kPortableResampleLoops;
extern const ResampleLoops kAvx2ResampleLoops;

// imgResample with the given loops; imgResample takes the widest this
// processor runs. `loops` must be ones it runs.
std::int32_t imgResampleWith(const ResampleLoops& loops, const std::uint8_t* src, std::int32_t sw, std::int32_t sh,
                             std::uint8_t* dst, std::int32_t dw, std::int32_t dh, std::int32_t bitsPerPixel);

// imgResample at 32 bits between two 32-bit DIB sections of the given sizes
// (their rows, bottom-up, are the packed rows). 1 on success; 0 when either
// handle is not a 32-bit DIB section of its given size with addressable bits,
// or when imgResample fails.
std::int32_t imgResampleBitmap(plat::Handle dst, std::int32_t dw, std::int32_t dh, plat::Handle src, std::int32_t sw,
                               std::int32_t sh);

}  // namespace oct
