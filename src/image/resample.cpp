#include "image/resample.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "image/limits.h"

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

// A byte from a filtered sum: the integer part of sum + 0.5, clamped to 0..255.
// Clamping before the truncation gives the same bytes and lets the loops
// that call it be vectorised.
inline std::uint8_t toByte(double sum) {
    double v = sum + 0.5;
    v = v < 0.0 ? 0.0 : v;
    v = v > 255.0 ? 255.0 : v;
    return static_cast<std::uint8_t>(static_cast<int>(v));
}

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

void rowsPass(const std::uint8_t* src, std::int32_t sw, std::int32_t height, std::uint8_t* dst, std::int32_t dw,
              std::int32_t bpp, const ContributionList& list, double* row) {
    const std::size_t srcRow = static_cast<std::size_t>(sw) * bpp;
    const std::size_t dstRow = static_cast<std::size_t>(dw) * bpp;
    for (std::int32_t y = 0; y < height; ++y) {
        const std::uint8_t* s = src + srcRow * y;
        std::uint8_t* d = dst + dstRow * y;
        // Each source byte is read by several outputs: convert the row once.
        for (std::size_t k = 0; k < srcRow; ++k) row[k] = s[k];
        if (bpp == 4) {
            for (std::int32_t x = 0; x < dw; ++x, d += 4) {
                const Contribution& c = list.items[x];
                double s0 = 0.0, s1 = 0.0, s2 = 0.0, s3 = 0.0;
                const double* p = row + 4 * static_cast<std::size_t>(c.first);
                for (std::int32_t j = 0; j <= c.last - c.first; ++j, p += 4) {
                    const double w = c.weights[j];
                    s0 = s0 + w * p[0];
                    s1 = s1 + w * p[1];
                    s2 = s2 + w * p[2];
                    s3 = s3 + w * p[3];
                }
                d[0] = toByte(s0);
                d[1] = toByte(s1);
                d[2] = toByte(s2);
                d[3] = toByte(s3);
            }
        } else {
            for (std::int32_t x = 0; x < dw; ++x, d += bpp) {
                const Contribution& c = list.items[x];
                for (std::int32_t ch = 0; ch < bpp; ++ch) {
                    double sum = 0.0;
                    for (std::int32_t j = c.first; j <= c.last; ++j)
                        sum = sum + c.weights[j - c.first] * row[static_cast<std::size_t>(j) * bpp + ch];
                    d[ch] = toByte(sum);
                }
            }
        }
    }
}

// Output rows one at a time: every byte of a row is a sum over the same
// source rows with the same weights, accumulated in source order. Source
// rows are converted to doubles once and kept in a ring of `room` rows (the
// taps of one output row are consecutive source rows, never more than
// `room`), and the row is worked in chunks that stay in the first-level cache.
constexpr std::size_t kChunk = 1024;

// One output row: the rows `rowAt(j)` of the contribution, weighted and
// summed in source order, chunk by chunk.
template <typename RowAt>
void sumRows(std::uint8_t* d, std::size_t rowBytes, const Contribution& c, RowAt rowAt) {
    double acc[kChunk];
    for (std::size_t k0 = 0; k0 < rowBytes; k0 += kChunk) {
        const std::size_t n = rowBytes - k0 < kChunk ? rowBytes - k0 : kChunk;
        for (std::size_t k = 0; k < n; ++k) acc[k] = 0.0;
        for (std::int32_t j = c.first; j <= c.last; ++j) {
            const double w = c.weights[j - c.first];
            const auto* r = rowAt(j) + k0;
            for (std::size_t k = 0; k < n; ++k) acc[k] = acc[k] + w * r[k];
        }
        for (std::size_t k = 0; k < n; ++k) d[k0 + k] = toByte(acc[k]);
    }
}

void columnsPass(const std::uint8_t* src, std::int32_t width, std::uint8_t* dst, std::int32_t dh, std::int32_t bpp,
                 const ContributionList& list, double* ring, std::int64_t* held) {
    const std::size_t rowBytes = static_cast<std::size_t>(width) * bpp;
    const auto room = static_cast<std::size_t>(list.window);
    for (std::size_t i = 0; i < room; ++i) held[i] = -1;
    for (std::int32_t y = 0; y < dh; ++y) {
        const Contribution& c = list.items[y];
        for (std::int32_t j = c.first; j <= c.last; ++j) {
            const std::size_t slot = static_cast<std::size_t>(j) % room;
            if (held[slot] == j) continue;
            const std::uint8_t* s = src + rowBytes * static_cast<std::size_t>(j);
            double* r = ring + rowBytes * slot;
            for (std::size_t k = 0; k < rowBytes; ++k) r[k] = s[k];
            held[slot] = j;
        }
        sumRows(dst + rowBytes * static_cast<std::size_t>(y), rowBytes, c, [&](std::int32_t j) {
            return static_cast<const double*>(ring + rowBytes * (static_cast<std::size_t>(j) % room));
        });
    }
}

// The converted-row ring is used up to this size.
constexpr std::size_t kMaxRingBytes = std::size_t{64} << 20;

void columnsPassDirect(const std::uint8_t* src, std::int32_t width, std::uint8_t* dst, std::int32_t dh,
                       std::int32_t bpp, const ContributionList& list) {
    const std::size_t rowBytes = static_cast<std::size_t>(width) * bpp;
    for (std::int32_t y = 0; y < dh; ++y)
        sumRows(dst + rowBytes * static_cast<std::size_t>(y), rowBytes, list.items[y],
                [&](std::int32_t j) { return src + rowBytes * static_cast<std::size_t>(j); });
}

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
    auto* list = static_cast<ContributionList*>(std::calloc(1, sizeof(ContributionList)));
    if (!list) return nullptr;
    list->items = static_cast<Contribution*>(std::calloc(static_cast<std::size_t>(outSize), sizeof(Contribution)));
    list->weights = static_cast<double*>(std::malloc(static_cast<std::size_t>(weightBytes)));
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
    std::free(list->items);
    std::free(list->weights);
    std::free(list);
}

bool imgResampleRows(const std::uint8_t* src, std::int32_t srcWidth, std::int32_t srcHeight, std::uint8_t* dst,
                     std::int32_t dstWidth, std::int32_t dstHeight, std::int32_t bytesPerPixel) {
    if (!src || !dst || srcWidth <= 0 || dstWidth <= 0 || srcHeight <= 0 || srcHeight != dstHeight ||
        bytesPerPixel < 1 || bytesPerPixel > 4 || imageBytes(srcWidth, srcHeight, bytesPerPixel) < 0 ||
        imageBytes(dstWidth, dstHeight, bytesPerPixel) < 0)
        return false;
    ListHold hold{imgFilterContributions(dstWidth, srcWidth)};
    auto* row = static_cast<double*>(std::malloc(static_cast<std::size_t>(srcWidth) * bytesPerPixel * sizeof(double)));
    if (!hold.list || !row) {
        std::free(row);
        return false;
    }
    rowsPass(src, srcWidth, srcHeight, dst, dstWidth, bytesPerPixel, *hold.list, row);
    std::free(row);
    return true;
}

bool imgResampleColumns(const std::uint8_t* src, std::int32_t srcWidth, std::int32_t srcHeight, std::uint8_t* dst,
                        std::int32_t dstWidth, std::int32_t dstHeight, std::int32_t bytesPerPixel) {
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
        columnsPassDirect(src, srcWidth, dst, dstHeight, bytesPerPixel, *hold.list);
        return true;
    }
    auto* ring = static_cast<double*>(std::malloc(rowBytes * room * sizeof(double)));
    auto* held = static_cast<std::int64_t*>(std::malloc(room * sizeof(std::int64_t)));
    if (ring && held) columnsPass(src, srcWidth, dst, dstHeight, bytesPerPixel, *hold.list, ring, held);
    const bool ok = ring && held;
    std::free(ring);
    std::free(held);
    return ok;
}

std::int32_t imgResample(const std::uint8_t* src, std::int32_t sw, std::int32_t sh, std::uint8_t* dst, std::int32_t dw,
                         std::int32_t dh, std::int32_t bitsPerPixel) {
    const std::int32_t bpp = bitsPerPixel / 8;
    if (!src || !dst || sw <= 0 || sh <= 0 || dw <= 0 || dh <= 0 || bpp < 1 || bpp > 4) return 0;
    if (imageBytes(sw, sh, bpp) < 0 || imageBytes(dw, dh, bpp) < 0) return 0;
    // Which pass goes first: compare sh·dw with sw·dh in 64 bits.
    const bool rowsFirst = static_cast<std::int64_t>(sh) * dw <= static_cast<std::int64_t>(sw) * dh;
    const std::int64_t midBytes = rowsFirst ? imageBytes(dw, sh, bpp) : imageBytes(sw, dh, bpp);
    if (midBytes < 0) return 0;
    auto* mid = static_cast<std::uint8_t*>(std::malloc(static_cast<std::size_t>(midBytes)));
    if (!mid) return 0;
    const bool ok = rowsFirst ? imgResampleRows(src, sw, sh, mid, dw, sh, bpp) &&
                                    imgResampleColumns(mid, dw, sh, dst, dw, dh, bpp)
                              : imgResampleColumns(src, sw, sh, mid, sw, dh, bpp) &&
                                    imgResampleRows(mid, sw, dh, dst, dw, dh, bpp);
    std::free(mid);
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
