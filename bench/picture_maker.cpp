#include "picture_maker.h"

#include <algorithm>
#include <array>
#include <fstream>
#include <iterator>

#include "image/bmp_rows.h"

namespace {

void put16(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
    b[at] = static_cast<std::uint8_t>(v);
    b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}
void put32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
    put16(b, at, v & 0xFFFF);
    put16(b, at + 2, v >> 16);
}

std::int32_t pitchOf(std::int32_t width, std::int32_t bitsPerPixel) { return (width * (bitsPerPixel / 8) + 3) & ~3; }

// ---------------------------------------------------------------------------
// Bicubic weights
// ---------------------------------------------------------------------------

constexpr int kWeightBits = 16;
constexpr std::int64_t kOne = std::int64_t{1} << kWeightBits;

// The cubic convolution kernel at distance x (0 <= x <= 2, in units of kOne):
// 1 at 0, 0 at 1 and 2, with a continuous slope; kA / 4 is the slope
// parameter a. a = −3/4 rather than Catmull-Rom's −1/2: the slightly sharper
// kernel keeps more of the photograph's fine detail when enlarging it four
// times, which the packer's ratios on the picture should reflect.
constexpr std::int64_t kA = -3;
std::int64_t cubic(std::int64_t x) {
    const std::int64_t x2 = (x * x) >> kWeightBits, x3 = (x2 * x) >> kWeightBits;
    if (x <= kOne) return ((kA + 8) * x3 - (kA + 12) * x2) / 4 + kOne;
    return kA * (x3 - 5 * x2 + 8 * x - 4 * kOne) / 4;
}

// The four source samples (clamped to the edge) and their weights for one
// destination sample; the weights sum to exactly kOne.
struct Taps {
    std::array<std::int32_t, 4> at;
    std::array<std::int64_t, 4> weight;
};

// Destination sample i of n has its centre at source position
// (i + 1/2) · m / n − 1/2, kept as the exact fraction ((2i + 1)m − n) / 2n so
// that no rounding enters before the weights.
std::vector<Taps> tapsFor(std::int32_t m, std::int32_t n) {
    std::vector<Taps> taps(static_cast<std::size_t>(n));
    const std::int64_t den = 2 * std::int64_t{n};
    for (std::int32_t i = 0; i < n; ++i) {
        const std::int64_t num = (2 * std::int64_t{i} + 1) * m - n;
        std::int64_t base = num / den;
        if (num % den < 0) --base;  // floor, also left of the first sample
        const std::int64_t t = ((num - base * den) << kWeightBits) / den;  // distance to sample `base`
        Taps& tap = taps[static_cast<std::size_t>(i)];
        tap.weight[0] = cubic(kOne + t);
        tap.weight[2] = cubic(kOne - t);
        tap.weight[3] = cubic(2 * kOne - t);
        tap.weight[1] = kOne - tap.weight[0] - tap.weight[2] - tap.weight[3];
        for (int k = 0; k < 4; ++k)
            tap.at[static_cast<std::size_t>(k)] =
                static_cast<std::int32_t>(std::clamp<std::int64_t>(base - 1 + k, 0, m - 1));
    }
    return taps;
}

}  // namespace

// ---------------------------------------------------------------------------
// BMP files
// ---------------------------------------------------------------------------

// The photograph's rows as the file stores them, found by the library's
// stored-rows reader, so that its bytes reach the scaler untouched.
std::optional<BenchPicture> benchReadBmp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    const std::vector<std::uint8_t> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    oct::StoredBmp stored;
    if (!oct::imgFindStoredBmpRows(file, stored) || stored.width > 1 << 16 || stored.height > 1 << 16)
        return std::nullopt;
    BenchPicture pic;
    pic.width = stored.width;
    pic.height = stored.height;
    pic.bitsPerPixel = stored.bitsPerPixel;
    pic.pitch = pitchOf(pic.width, pic.bitsPerPixel);
    pic.pixels.resize(static_cast<std::size_t>(pic.pitch) * static_cast<std::size_t>(pic.height));
    oct::imgCopyStoredBmpRows(stored, pic.pixels.data(), pic.pitch);
    return pic;
}

// The 14-byte file header and a 40-byte info header (BI_RGB, positive
// height, 72 dpi), then the rows as held: the layout the library's encoder
// writes, apart from the resolution.
std::vector<std::uint8_t> benchBmpFile(const BenchPicture& pic) {
    constexpr std::size_t kHeaders = 14 + 40;
    std::vector<std::uint8_t> file(kHeaders + pic.pixels.size());
    file[0] = 'B';
    file[1] = 'M';
    put32(file, 2, static_cast<std::uint32_t>(kHeaders + pic.pixels.size()));
    put32(file, 10, kHeaders);
    put32(file, 14, 40);
    put32(file, 18, static_cast<std::uint32_t>(pic.width));
    put32(file, 22, static_cast<std::uint32_t>(pic.height));
    put16(file, 26, 1);  // planes
    put16(file, 28, static_cast<std::uint32_t>(pic.bitsPerPixel));
    put32(file, 34, static_cast<std::uint32_t>(pic.pixels.size()));
    put32(file, 38, 2835);  // 72 dpi, in pixels per metre
    put32(file, 42, 2835);
    std::copy(pic.pixels.begin(), pic.pixels.end(), file.begin() + kHeaders);
    return file;
}

// ---------------------------------------------------------------------------
// Scaling
// ---------------------------------------------------------------------------

std::optional<BenchPicture> benchScalePhoto(const BenchPicture& photo, std::int32_t size, bool alpha) {
    return benchScalePhoto(photo, size, size, alpha);
}

std::optional<BenchPicture> benchScalePhoto(const BenchPicture& photo, std::int32_t width, std::int32_t height,
                                            bool alpha) {
    if (width < 1 || width > 1 << 14 || height < 1 || height > 1 << 14 || photo.width <= 0 || photo.height <= 0 ||
        photo.bitsPerPixel != 24 ||
        photo.pixels.size() < static_cast<std::size_t>(photo.pitch) * static_cast<std::size_t>(photo.height))
        return std::nullopt;
    const std::vector<Taps> across = tapsFor(photo.width, width), down = tapsFor(photo.height, height);

    // Across first, on the photo's own rows: each sample in 1/256ths of a
    // level, rounded. Overshoot of the cubic below 0 and above 255 is kept
    // until the second pass.
    const std::size_t wide = static_cast<std::size_t>(width) * 3;
    std::vector<std::int32_t> rows(wide * static_cast<std::size_t>(photo.height));
    for (std::int32_t y = 0; y < photo.height; ++y) {
        const std::uint8_t* src = photo.pixels.data() + static_cast<std::size_t>(y) * photo.pitch;
        std::int32_t* out = rows.data() + static_cast<std::size_t>(y) * wide;
        for (std::int32_t x = 0; x < width; ++x) {
            const Taps& tap = across[static_cast<std::size_t>(x)];
            for (int c = 0; c < 3; ++c) {
                std::int64_t sum = 0;
                for (std::size_t k = 0; k < 4; ++k) sum += tap.weight[k] * src[tap.at[k] * 3 + c];
                *out++ = static_cast<std::int32_t>((sum + (kOne >> 9)) >> (kWeightBits - 8));
            }
        }
    }

    // Then down. Rows are bottom-up in both, so row y of the result
    // interpolates the photo's rows at the same side.
    BenchPicture pic;
    pic.width = width;
    pic.height = height;
    pic.bitsPerPixel = alpha ? 32 : 24;
    pic.pitch = pitchOf(width, pic.bitsPerPixel);
    pic.pixels.assign(static_cast<std::size_t>(pic.pitch) * static_cast<std::size_t>(height), 0);
    const int channels = alpha ? 4 : 3;
    for (std::int32_t y = 0; y < height; ++y) {
        const Taps& tap = down[static_cast<std::size_t>(y)];
        std::uint8_t* out = pic.pixels.data() + static_cast<std::size_t>(y) * pic.pitch;
        // y counts from the bottom: the top row (y = height − 1) is opaque.
        const auto opacity = static_cast<std::uint8_t>(
            height == 1 ? 255 : (std::int64_t{255} * y + (height - 1) / 2) / (height - 1));
        for (std::size_t i = 0; i < wide; ++i) {
            std::int64_t sum = 0;
            for (std::size_t k = 0; k < 4; ++k) sum += tap.weight[k] * rows[static_cast<std::size_t>(tap.at[k]) * wide + i];
            const std::int64_t v = (sum + (std::int64_t{1} << (kWeightBits + 7))) >> (kWeightBits + 8);
            out[i / 3 * static_cast<std::size_t>(channels) + i % 3] = static_cast<std::uint8_t>(std::clamp<std::int64_t>(v, 0, 255));
        }
        if (alpha)
            for (std::int32_t x = 0; x < width; ++x) out[static_cast<std::size_t>(x) * 4 + 3] = opacity;
    }
    return pic;
}
