#include "encode/palette.h"

#include <cstring>

#include "runtime/heap.h"

namespace oct {
namespace {

constexpr std::int64_t kRowSpare = 8;  // the row buffer's bytes past one index per pixel

std::int32_t clampByte(std::int32_t v) { return v < 0 ? 0 : v > 255 ? 255 : v; }

// The pixels as 4-byte rows 4 × width apart: copied (24-bit rows gain alpha
// 255), or the caller's own 32-bit rows when they already lie that way and
// nothing will be written into them.
bool takePixels(PaletteReducer& r, const std::uint8_t* pixels, std::int32_t pitch) {
    const std::int64_t rowBytes = 4 * static_cast<std::int64_t>(r.width);
    if (r.pixelDepth == 32 && (r.flags & kPaletteDither) == 0 && pitch == rowBytes) {
        r.pixels = const_cast<std::uint8_t*>(pixels);
        return true;
    }
    const std::int64_t bytes = rowBytes * r.height;
    r.pixels = static_cast<std::uint8_t*>(memMainAlloc(bytes > 0 ? bytes : 4, false));
    if (!r.pixels) return false;
    r.ownsPixels = 1;
    for (std::int32_t y = 0; y < r.height; ++y) {
        const std::uint8_t* s = pixels + static_cast<std::int64_t>(y) * pitch;
        std::uint8_t* d = r.pixels + y * rowBytes;
        if (r.pixelDepth == 32) {
            std::memcpy(d, s, static_cast<std::size_t>(rowBytes));
            continue;
        }
        for (std::int32_t x = 0; x < r.width; ++x, s += 3, d += 4) {
            d[0] = s[0];
            d[1] = s[1];
            d[2] = s[2];
            d[3] = 255;
        }
    }
    return true;
}

bool buildPalette(PaletteReducer& r) {
    const std::int64_t pixelCount = static_cast<std::int64_t>(r.width) * r.height;
    const std::int32_t n = 1 << r.depth;
    ColourNetwork* net = palNetworkCreate(r.pixels, 4 * pixelCount, n);
    if (!net) return false;
    r.network = net;
    palLearn(*net, palSamplingPlan(pixelCount));
    palBuildIndex(*net);
    for (std::int32_t k = 0; k < n; ++k) {
        const double* v = net->neurons[k];
        r.palette[k][kBlue] = palColourByte(v[kNeuronBlue], net->gamma);
        r.palette[k][kGreen] = palColourByte(v[kNeuronGreen], net->gamma);
        r.palette[k][kRed] = palColourByte(v[kNeuronRed], net->gamma);
        r.palette[k][kAlpha] = palAlphaByte(v[kNeuronAlpha]);
    }
    return true;
}

// Index 1 (white) when the pixel's luminance is above 160.
void thresholdRow(PaletteReducer& r, const std::uint8_t* p) {
    for (std::int32_t x = 0; x < r.width; ++x, p += 4) {
        const double luminance = 0.2126 * p[kRed] + 0.7152 * p[kGreen] + 0.0722 * p[kBlue];
        r.row[x] = luminance > 160 ? 1 : 0;
    }
}

// Packs the row's indices in place for depths 1 and 4. The entries past the
// last pixel are cleared first, since whole groups of 8 or 2 are read; every
// byte after the packed ones is cleared after, so nothing but indices and
// zeros reaches a file.
void packRow(PaletteReducer& r) {
    const std::int64_t width = r.width, bufferBytes = width + kRowSpare;
    std::memset(r.row + width, 0, kRowSpare);
    const std::int64_t packed = palPackedBytes(width, r.depth);
    std::uint8_t* b = r.row;
    if (r.depth == 1) {
        for (std::int64_t i = 0; i < packed; ++i) {
            const std::uint8_t* e = b + 8 * i;
            b[i] = static_cast<std::uint8_t>(e[0] << 7 | e[1] << 6 | e[2] << 5 | e[3] << 4 | e[4] << 3 | e[5] << 2 |
                                             e[6] << 1 | e[7]);
        }
    } else if (r.depth == 4) {
        for (std::int64_t i = 0; i < packed; ++i) b[i] = static_cast<std::uint8_t>(b[2 * i] << 4 | b[2 * i + 1]);
    }
    std::memset(r.row + packed, 0, static_cast<std::size_t>(bufferBytes - packed));
}

}  // namespace

std::int64_t palPackedBytes(std::int64_t width, std::int32_t depth) {
    if (depth == 1) return (width + 7) / 8;
    if (depth == 4) return (width + 1) / 2;
    return width;
}

PaletteReducer* palCreate(const std::uint8_t* pixels, std::int32_t width, std::int32_t height,
                          std::int32_t pixelDepth, std::int32_t pitch, std::int32_t depth, std::int32_t flags) {
    if ((depth != 1 && depth != 4 && depth != 8) || (pixelDepth != 24 && pixelDepth != 32)) return nullptr;
    if (width < 0 || height < 0 || (!pixels && width > 0 && height > 0)) return nullptr;
    // The 4-byte copy of every pixel must have a size that 64 bits can hold.
    if (static_cast<std::int64_t>(width) * height > INT64_MAX / 8) return nullptr;
    auto* r = static_cast<PaletteReducer*>(memMainAlloc(sizeof(PaletteReducer)));
    if (!r) return nullptr;
    r->width = width;
    r->height = height;
    r->flags = flags;
    r->pixelDepth = pixelDepth;
    r->depth = depth;
    r->gamma = kPaletteGamma;
    // Cleared, although every call clears what it leaves past the indices.
    r->row = static_cast<std::uint8_t*>(memMainAlloc(static_cast<std::int64_t>(width) + kRowSpare));
    if (!r->row || !takePixels(*r, pixels, pitch)) {
        palFree(r);
        return nullptr;
    }
    if (depth == 1) {
        std::memset(r->palette[1], 255, 3);  // entry 0 stays black
        return r;
    }
    if (!buildPalette(*r)) {
        palFree(r);
        return nullptr;
    }
    return r;
}

const std::uint8_t* palIndexRow(PaletteReducer& r, std::int32_t k) {
    if (k < 0 || k >= r.height) {
        std::memset(r.row, 0, static_cast<std::size_t>(r.width + kRowSpare));
        return r.row;
    }
    const std::uint8_t* p = r.pixels + static_cast<std::int64_t>(k) * r.width * 4;
    if (r.depth == 1) {
        thresholdRow(r, p);
    } else if (r.flags & kPaletteDither) {
        palDitherRow(r, k);
    } else {
        for (std::int32_t x = 0; x < r.width; ++x, p += 4)
            r.row[x] = static_cast<std::uint8_t>(palSearch(*r.network, p[kAlpha], p[kRed], p[kGreen], p[kBlue]));
    }
    packRow(r);
    return r.row;
}

void palDitherRow(PaletteReducer& r, std::int32_t k) {
    const std::int64_t rowBytes = 4 * static_cast<std::int64_t>(r.width);
    std::uint8_t* row = r.pixels + k * rowBytes;
    std::uint8_t* below = k + 1 < r.height ? row + rowBytes : row;
    std::int32_t e[4];  // blue, green, red, alpha, as the palette bytes
    std::memcpy(e, r.carry, sizeof e);
    for (std::int32_t x = 0; x < r.width; ++x) {
        const std::uint8_t* p = row + 4 * static_cast<std::int64_t>(x);
        std::int32_t adjusted[4];
        for (int c = 0; c < 4; ++c) adjusted[c] = clampByte(p[c] - e[c]);
        const std::int32_t idx =
            palSearch(*r.network, adjusted[kAlpha], adjusted[kRed], adjusted[kGreen], adjusted[kBlue]);
        r.row[x] = static_cast<std::uint8_t>(idx);
        const std::uint8_t* entry = r.palette[idx];

        // The colour error counts as much as the more opaque of pixel and entry.
        const std::int32_t m = entry[kAlpha] > p[kAlpha] ? entry[kAlpha] : p[kAlpha];
        const std::int32_t u = 255 - (255 - m) * (255 - m) / 255;
        std::int32_t d[4];
        for (int c = 0; c < 3; ++c) d[c] = (entry[c] - p[c]) * u / 255;
        d[kAlpha] = entry[kAlpha] - p[kAlpha];
        const std::int32_t limit = 2 * (d[kAlpha] * d[kAlpha] + d[kRed] * d[kRed] + d[kGreen] * d[kGreen] +
                                        d[kBlue] * d[kBlue]);
        for (int c = 0; c < 4; ++c) e[c] += d[c];

        palLimitCarry(e, limit);

        // Into the row below: 3/16 below-left, 1/16 below-right, 5/16 below.
        auto diffuse = [&](std::int64_t at, std::int32_t factor) {
            std::uint8_t* q = below + 4 * at;
            for (int c = 0; c < 4; ++c) q[c] = static_cast<std::uint8_t>(clampByte(q[c] - factor * e[c] / 16));
        };
        if (x > 0) diffuse(x - 1, 3);
        if (x + 1 < r.width) diffuse(x + 1, 1);
        diffuse(x, 5);
    }
    for (int c = 0; c < 4; ++c) r.carry[c] = 7 * e[c] / 16;
}

void palLimitCarry(std::int32_t e[4], std::int32_t limit) {
    // Halving truncates towards zero, so the carry always reaches 0 and the
    // loop ends (a shift would keep −1 at −1 for ever).
    for (;;) {
        const std::int32_t s0 = e[0] * e[0], s1 = e[1] * e[1], s2 = e[2] * e[2], s3 = e[3] * e[3];
        const std::int32_t sum = s0 + s1 + s2 + s3;
        if (s0 <= 100 && s1 <= 100 && s2 <= 100 && s3 <= 100 && sum <= limit && sum <= 200) return;
        for (int c = 0; c < 4; ++c) e[c] /= 2;
    }
}

void palFree(PaletteReducer* r) {
    if (!r) return;
    if (r->ownsPixels) memMainFree(r->pixels);
    memMainFree(r->network);
    memMainFree(r->row);
    memMainFree(r);
}

}  // namespace oct
