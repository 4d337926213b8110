#include "encode/encoder.h"

#include "image/image.h"
#include "runtime/heap.h"

namespace oct {
namespace {

constexpr int kMaxEncoders = 30;
const ImageEncoder* gEncoders[kMaxEncoders];
int gEncoderCount = 0;

const ImageEncoder* findEncoder(std::uint32_t id) {
    for (int i = 0; i < gEncoderCount; ++i)
        if (gEncoders[i]->id == id) return gEncoders[i];
    return nullptr;
}

}  // namespace

bool imgRegisterEncoder(const ImageEncoder* encoder) {
    if (!encoder) return false;
    // Every start registers the BMP encoder again: an id already there is
    // not entered twice, or stops and starts would fill the registry.
    if (const ImageEncoder* known = findEncoder(encoder->id)) return known == encoder;
    if (gEncoderCount >= kMaxEncoders) return false;
    gEncoders[gEncoderCount++] = encoder;
    return true;
}

std::int64_t imgEncode(const char16_t* fileName, const std::uint8_t* pixels, std::uint32_t encoderId,
                       std::int32_t width, std::int32_t height, std::int32_t pitch, std::int32_t pixelDepth,
                       std::int32_t mode, std::int32_t flags, std::int32_t depth) {
    const ImageEncoder* encoder = findEncoder(encoderId);
    if (!encoder || !pixels || width < 0 || height < 0) return 0;
    if (pixelDepth == 24) return encoder->encode24(fileName, pixels, width, height, pitch, mode, flags, depth);
    if (pixelDepth != 32) return 0;
    if (encoder->encode32 && (depth == 32 || depth == kSourceDepth))
        return encoder->encode32(fileName, pixels, width, height, pitch, mode, flags, depth);

    // Flatten onto white into 24-bit rows padded to 4 bytes. The buffer is
    // cleared so that the padding bytes that reach a file are zero.
    const std::int64_t flatPitch = (3 * static_cast<std::int64_t>(width) + 3) & ~std::int64_t{3};
    if (flatPitch > INT32_MAX) return 0;
    auto* flat = static_cast<std::uint8_t*>(memMainAlloc(flatPitch * height));
    if (!flat && flatPitch * height > 0) return 0;
    for (std::int32_t y = 0; y < height; ++y) {
        const std::uint8_t* s = pixels + static_cast<std::int64_t>(y) * pitch;
        std::uint8_t* d = flat + y * flatPitch;
        for (std::int32_t x = 0; x < width; ++x, s += 4, d += 3) {
            d[2] = imgOverWhite(s[2], s[3]);
            d[1] = imgOverWhite(s[1], s[3]);
            d[0] = imgOverWhite(s[0], s[3]);
        }
    }
    std::int64_t result = encoder->encode24(fileName, flat, width, height, static_cast<std::int32_t>(flatPitch), mode,
                                            flags, depth);
    memMainFree(flat);
    return result;
}

std::int64_t imgSave(std::int64_t image, const char16_t* fileName, std::uint32_t encoderId, std::int32_t flags,
                     std::int32_t depth) {
    if (!fileName || fileName[0] == 0) return 0;
    ImageObject* record = imgGetImage(image);
    if (!record) return 0;
    plat::BitmapDesc bm{};
    if (!plat::bitmapIsDibSection(record->handle) || !plat::bitmapDescribe(record->handle, bm) || !bm.bits) return 0;
    if (depth == kSourceDepth) depth = record->sourceDepth;
    const std::int64_t pitch = imgRowBytes(bm.width, bm.bitsPerPixel);
    if (pitch <= 0 || pitch > INT32_MAX) return 0;
    // Never more rows or columns than the bitmap holds.
    const std::int32_t width = record->width < bm.width ? record->width : bm.width;
    const std::int32_t height = record->height < bm.height ? record->height : bm.height;
    std::int64_t result = imgEncode(fileName, static_cast<const std::uint8_t*>(bm.bits), encoderId, width, height,
                                    static_cast<std::int32_t>(pitch), bm.bitsPerPixel, kEncodeBottomUp, flags, depth);
    return static_cast<std::int32_t>(result);
}

}  // namespace oct
