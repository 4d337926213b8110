#include "image/resample.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "image/limits.h"
#include "platform/bitmaps.h"
#include "platform/fail_inject.h"
#include "platform/handles.h"
#include "runtime/cpu_features.h"

namespace oct {
namespace {

CubicFilter filterFor(double b, double c) {
    CubicFilter f;
    f.p0 = (6.0 - 2.0 * b) / 6.0;
    f.p2 = (-18.0 + 12.0 * b + 6.0 * c) / 6.0;
    f.p3 = (12.0 - 9.0 * b - 6.0 * c) / 6.0;
    f.q0 = (8.0 * b + 24.0 * c) / 6.0;
    f.q1 = (-12.0 * b - 48.0 * c) / 6.0;
    f.q2 = (6.0 * b + 30.0 * c) / 6.0;
    f.q3 = (-b - 6.0 * c) / 6.0;
    return f;
}

thread_local CubicFilter tFilter = filterFor(1.0 / 3.0, 1.0 / 3.0);

// Bytes of an image of w × h pixels of `bpp` bytes, or −1 when that is more
// than the largest pixel buffer of the library (a DIB section's).
std::int64_t imageBytes(std::int64_t w, std::int64_t h, std::int64_t bpp) {
    std::int64_t n;
    if (!checkedMul(w, h, n) || !checkedMul(n, bpp, n) || n > kMaxDibSectionBytes) return -1;
    return n;
}

// A list as imgFilterContributions makes it, freed on leaving scope.
struct ListHold {
    ContributionList* list;
    ~ListHold() { imgFreeContributions(list); }
};

}  // namespace

#define RESAMPLE_LOOPS_NAMESPACE portable_loops
#include "image/resample_loops.inc"
#undef RESAMPLE_LOOPS_NAMESPACE

const ResampleLoops kPortableResampleLoops{portable_loops::rowsPass, portable_loops::columnsPass,
                                           portable_loops::columnsPassDirect};

namespace {

// The loops of the widest instruction set this processor runs.
const ResampleLoops& bestLoops() {
    return cpuFeatures().avx2 ? kAvx2ResampleLoops : kPortableResampleLoops;
}

// The converted-row ring is used up to this size.
constexpr std::size_t kMaxRingBytes = std::size_t{64} << 20;

}  // namespace

void imgSetCubicFilter(double b, double c) { tFilter = filterFor(b, c); }

const CubicFilter& imgCubicFilter() { return tFilter; }

double imgCubicKernel(double x) {
    const CubicFilter& f = tFilter;
    if (x < 1.0) return f.p0 + f.p2 * (x * x) + f.p3 * (x * x * x);
    if (x < 2.0) return f.q0 + f.q1 * x + f.q2 * (x * x) + f.q3 * (x * x * x);
    return 0.0;
}

ContributionList* imgFilterContributions(std::int32_t outSize, std::int32_t inSize) {
    if (outSize <= 0 || inSize <= 0) return nullptr;
    imgSetCubicFilter(1.0 / 3.0, 1.0 / 3.0);
    const double scale = static_cast<double>(outSize) / static_cast<double>(inSize);
    double support = 2.0;
    double f = 1.0;
    if (scale < 1.0) {
        support = 2.0 / scale;
        f = scale;
    }
    const std::int64_t window = 2 * static_cast<std::int64_t>(std::ceil(support)) + 1;
    // No position takes more source indexes than there are, so the room per
    // position is the smaller of the window and the input size.
    const std::int32_t room = window < inSize ? static_cast<std::int32_t>(window) : inSize;

    std::int64_t weightBytes;
    if (!checkedMul<std::int64_t>(outSize, room, weightBytes) ||
        !checkedMul<std::int64_t>(weightBytes, sizeof(double), weightBytes))
        return nullptr;
    auto* list = static_cast<ContributionList*>(plat::crtAlloc(sizeof(ContributionList), true));
    if (!list) return nullptr;
    list->items = static_cast<Contribution*>(plat::crtAlloc(static_cast<std::size_t>(outSize) * sizeof(Contribution), true));
    list->weights = static_cast<double*>(plat::crtAlloc(static_cast<std::size_t>(weightBytes), false));
    if (!list->items || !list->weights) {
        imgFreeContributions(list);
        return nullptr;
    }
    list->count = outSize;
    list->window = room;

    for (std::int32_t i = 0; i < outSize; ++i) {
        const double center = static_cast<double>(i) / scale + (0.5 / scale - 0.5);
        std::int64_t left = static_cast<std::int64_t>(std::floor(center - support));
        if (left < 0) left = 0;
        std::int64_t right = static_cast<std::int64_t>(std::ceil(center + support));
        if (right >= inSize - 1) right = inSize - 1;
        if (right - left + 1 > window) {
            if (left < inSize)
                ++left;
            else
                --right;
        }
        Contribution& c = list->items[i];
        c.weights = list->weights + static_cast<std::size_t>(i) * room;
        c.first = static_cast<std::int32_t>(left);
        c.last = static_cast<std::int32_t>(right < left ? left - 1 : right);
        double sum = 0.0;
        for (std::int64_t j = left; j <= c.last; ++j) {
            const double w = imgCubicKernel(std::fabs((center - static_cast<double>(j)) * f)) * f;
            c.weights[j - left] = w;
            sum = sum + w;
        }
        if (sum > 0.0 && sum != 1.0)
            for (std::int64_t j = left; j <= c.last; ++j) c.weights[j - left] = c.weights[j - left] / sum;
    }
    return list;
}

void imgFreeContributions(ContributionList* list) {
    if (!list) return;
    plat::crtFree(list->items);
    plat::crtFree(list->weights);
    plat::crtFree(list);
}

namespace {

bool resampleRows(const ResampleLoops& loops, const std::uint8_t* src, std::int32_t srcWidth, std::int32_t srcHeight,
                  std::uint8_t* dst, std::int32_t dstWidth, std::int32_t dstHeight, std::int32_t bytesPerPixel) {
    if (!src || !dst || srcWidth <= 0 || dstWidth <= 0 || srcHeight <= 0 || srcHeight != dstHeight ||
        bytesPerPixel < 1 || bytesPerPixel > 4 || imageBytes(srcWidth, srcHeight, bytesPerPixel) < 0 ||
        imageBytes(dstWidth, dstHeight, bytesPerPixel) < 0)
        return false;
    ListHold hold{imgFilterContributions(dstWidth, srcWidth)};
    auto* row = static_cast<double*>(plat::crtAlloc(static_cast<std::size_t>(srcWidth) * bytesPerPixel * sizeof(double), false));
    if (!hold.list || !row) {
        plat::crtFree(row);
        return false;
    }
    loops.rowsPass(src, srcWidth, srcHeight, dst, dstWidth, bytesPerPixel, *hold.list, row);
    plat::crtFree(row);
    return true;
}

bool resampleColumns(const ResampleLoops& loops, const std::uint8_t* src, std::int32_t srcWidth,
                     std::int32_t srcHeight, std::uint8_t* dst, std::int32_t dstWidth, std::int32_t dstHeight,
                     std::int32_t bytesPerPixel) {
    if (!src || !dst || srcWidth <= 0 || srcHeight <= 0 || dstHeight <= 0 || srcWidth != dstWidth ||
        bytesPerPixel < 1 || bytesPerPixel > 4 || imageBytes(srcWidth, srcHeight, bytesPerPixel) < 0 ||
        imageBytes(dstWidth, dstHeight, bytesPerPixel) < 0)
        return false;
    ListHold hold{imgFilterContributions(dstHeight, srcHeight)};
    if (!hold.list) return false;
    const auto room = static_cast<std::size_t>(hold.list->window);
    const std::size_t rowBytes = static_cast<std::size_t>(srcWidth) * bytesPerPixel;
    if (rowBytes > SIZE_MAX / sizeof(double) / room) return false;
    if (rowBytes * room * sizeof(double) > kMaxRingBytes) {
        // A strong reduction of a large picture: the same sums straight from the bytes.
        loops.columnsPassDirect(src, srcWidth, dst, dstHeight, bytesPerPixel, *hold.list);
        return true;
    }
    auto* ring = static_cast<double*>(plat::crtAlloc(rowBytes * room * sizeof(double), false));
    auto* held = static_cast<std::int64_t*>(plat::crtAlloc(room * sizeof(std::int64_t), false));
    if (ring && held) loops.columnsPass(src, srcWidth, dst, dstHeight, bytesPerPixel, *hold.list, ring, held);
    const bool ok = ring && held;
    plat::crtFree(ring);
    plat::crtFree(held);
    return ok;
}

}  // namespace

bool imgResampleRows(const std::uint8_t* src, std::int32_t srcWidth, std::int32_t srcHeight, std::uint8_t* dst,
                     std::int32_t dstWidth, std::int32_t dstHeight, std::int32_t bytesPerPixel) {
    return resampleRows(bestLoops(), src, srcWidth, srcHeight, dst, dstWidth, dstHeight, bytesPerPixel);
}

bool imgResampleColumns(const std::uint8_t* src, std::int32_t srcWidth, std::int32_t srcHeight, std::uint8_t* dst,
                        std::int32_t dstWidth, std::int32_t dstHeight, std::int32_t bytesPerPixel) {
    return resampleColumns(bestLoops(), src, srcWidth, srcHeight, dst, dstWidth, dstHeight, bytesPerPixel);
}

std::int32_t imgResample(const std::uint8_t* src, std::int32_t sw, std::int32_t sh, std::uint8_t* dst, std::int32_t dw,
                         std::int32_t dh, std::int32_t bitsPerPixel) {
    return imgResampleWith(bestLoops(), src, sw, sh, dst, dw, dh, bitsPerPixel);
}

std::int32_t imgResampleWith(const ResampleLoops& loops, const std::uint8_t* src, std::int32_t sw, std::int32_t sh,
                             std::uint8_t* dst, std::int32_t dw, std::int32_t dh, std::int32_t bitsPerPixel) {
    const std::int32_t bpp = bitsPerPixel / 8;
    if (!src || !dst || sw <= 0 || sh <= 0 || dw <= 0 || dh <= 0 || bpp < 1 || bpp > 4) return 0;
    if (imageBytes(sw, sh, bpp) < 0 || imageBytes(dw, dh, bpp) < 0) return 0;
    // Which pass goes first: compare sh·dw with sw·dh in 64 bits.
    const bool rowsFirst = static_cast<std::int64_t>(sh) * dw <= static_cast<std::int64_t>(sw) * dh;
    const std::int64_t midBytes = rowsFirst ? imageBytes(dw, sh, bpp) : imageBytes(sw, dh, bpp);
    if (midBytes < 0) return 0;
    auto* mid = static_cast<std::uint8_t*>(plat::crtAlloc(static_cast<std::size_t>(midBytes), false));
    if (!mid) return 0;
    const bool ok = rowsFirst ? resampleRows(loops, src, sw, sh, mid, dw, sh, bpp) &&
                                    resampleColumns(loops, mid, dw, sh, dst, dw, dh, bpp)
                              : resampleColumns(loops, src, sw, sh, mid, sw, dh, bpp) &&
                                    resampleRows(loops, mid, sw, dh, dst, dw, dh, bpp);
    plat::crtFree(mid);
    return ok ? 1 : 0;
}

std::int32_t imgResampleBitmap(plat::Handle dst, std::int32_t dw, std::int32_t dh, plat::Handle src, std::int32_t sw,
                               std::int32_t sh) {
    plat::BitmapDesc d{}, s{};
    if (!plat::bitmapIsDibSection(dst) || !plat::bitmapIsDibSection(src) || !plat::bitmapDescribe(dst, d) ||
        !plat::bitmapDescribe(src, s))
        return 0;
    if (d.bitsPerPixel != 32 || s.bitsPerPixel != 32 || !d.bits || !s.bits || d.width != dw || d.height != dh ||
        s.width != sw || s.height != sh)
        return 0;
    return imgResample(static_cast<const std::uint8_t*>(s.bits), sw, sh, static_cast<std::uint8_t*>(d.bits), dw, dh,
                       32);
}

}  // namespace oct
