#include "encode/encoder.h"

#include <algorithm>

#include "encode/bmp_writer.h"
#include "encode/png_writer.h"
#include "image/format_registry.h"
#include "image/image.h"
#include "platform/bitmaps.h"
#include "runtime/heap.h"
#include "runtime/module.h"

namespace oct {
namespace {

// Filled during module start only and read without a lock afterwards.
FormatRegistry<ImageEncoder> gEncoders;

}  // namespace

bool imgRegisterEncoder(const ImageEncoder* encoder) {
    if (!encoder || !encoder->encode24) return false;
    return gEncoders.add(encoder);
}

void imgStartEncoders() {
    // Both are tried, so that one refusal does not take the other with it.
    const bool bmp = imgRegisterBmpEncoder();
    const bool png = imgRegisterPngEncoder();
    if (!bmp || !png) modStepFailed();
}

void imgStopEncoders() { gEncoders.clear(); }

std::int64_t imgEncode(const char16_t* fileName, const PixelRows& rows, std::int32_t pixelDepth,
                       std::uint32_t encoderId, const EncodeOptions& options) {
    const ImageEncoder* encoder = gEncoders.find(encoderId);
    if (!encoder || !rows.pixels || rows.width < 0 || rows.height < 0) return 0;
    if (pixelDepth == 24) return encoder->encode24(fileName, rows, options);
    if (pixelDepth != 32) return 0;
    if (encoder->encode32 && (options.depth == 32 || options.depth == kSourceDepth))
        return encoder->encode32(fileName, rows, options);

    // Flatten onto white into 24-bit rows padded to 4 bytes. The buffer is
    // cleared so that the padding bytes that reach a file are zero.
    const std::int32_t width = rows.width, height = rows.height;
    const std::int64_t flatPitch = (3 * static_cast<std::int64_t>(width) + 3) & ~std::int64_t{3};
    if (flatPitch > INT32_MAX) return 0;
    auto* flat = static_cast<std::uint8_t*>(memMainAlloc(flatPitch * height));
    if (!flat && flatPitch * height > 0) return 0;
    for (std::int32_t y = 0; y < height; ++y) {
        const std::uint8_t* s = rows.pixels + static_cast<std::int64_t>(y) * rows.pitch;
        std::uint8_t* d = flat + y * flatPitch;
        for (std::int32_t x = 0; x < width; ++x, s += 4, d += 3) {
            d[2] = imgOverWhite(s[2], s[3]);
            d[1] = imgOverWhite(s[1], s[3]);
            d[0] = imgOverWhite(s[0], s[3]);
        }
    }
    const PixelRows flattened{flat, width, height, static_cast<std::int32_t>(flatPitch), rows.mode};
    const std::int64_t result = encoder->encode24(fileName, flattened, options);
    memMainFree(flat);
    return result;
}

std::int64_t imgSave(std::int64_t image, const char16_t* fileName, std::uint32_t encoderId,
                     const EncodeOptions& options) {
    if (!fileName || fileName[0] == 0) return 0;
    ImageObject* record = imgGetImage(image);
    if (!record) return 0;
    plat::BitmapDesc bm{};
    if (!plat::bitmapIsDibSection(record->handle) || !plat::bitmapDescribe(record->handle, bm) || !bm.bits) return 0;
    const ImageEncoder* encoder = gEncoders.find(encoderId);
    if (!encoder) return 0;
    EncodeOptions resolved = options;
    if (resolved.depth == kSourceDepth && !encoder->choosesForm) resolved.depth = record->sourceDepth;
    const std::int64_t pitch = imgRowBytes(bm.width, bm.bitsPerPixel);
    if (pitch <= 0 || pitch > INT32_MAX) return 0;
    // Never more rows or columns than the bitmap holds.
    const PixelRows rows{static_cast<const std::uint8_t*>(bm.bits), std::min(record->width, bm.width),
                         std::min(record->height, bm.height), static_cast<std::int32_t>(pitch), kEncodeBottomUp};
    const std::int64_t result = imgEncode(fileName, rows, bm.bitsPerPixel, encoderId, resolved);
    return static_cast<std::int32_t>(result);
}

}  // namespace oct
