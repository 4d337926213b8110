#include "image/decoder_registry.h"

#include <cstring>

#include "image/format_registry.h"
#include "image/image.h"
#include "image/limits.h"
#include "platform/bitmaps.h"
#include "platform/handles.h"
#include "runtime/module.h"
#include "runtime/thread_area.h"

namespace oct {
namespace {

// Filled during module start only and read without a lock afterwards.
FormatRegistry<ImageDecoder> gDecoders;

// Offset of the DecodeContext in every thread's block of areas; -1 when
// registration failed, and then every load fails.
std::int64_t gContextArea = -1;

}  // namespace

void imgStartDecoders() {
    gDecoders.clear();
    gContextArea = thrRegisterArea(sizeof(DecodeContext), nullptr, nullptr);
    if (gContextArea < 0) modStepFailed();
}

void imgStopDecoders() { gDecoders.clear(); }

bool imgRegisterDecoder(const ImageDecoder* decoder) {
    if (!decoder || !decoder->id || !decoder->check || !decoder->decode || !decoder->cleanup) return false;
    return gDecoders.add(decoder);
}

std::span<const ImageDecoder* const> imgDecoders() { return gDecoders.entries(); }

DecodeContext* imgDecodeContext() { return static_cast<DecodeContext*>(thrArea(gContextArea)); }

std::uint32_t imgFindDecoder(const std::uint8_t* data, std::int32_t size) {
    DecodeContext* ctx = imgDecodeContext();
    if (!ctx) return 0;
    std::memset(ctx, 0, sizeof *ctx);
    ctx->data = data;
    ctx->dataSize = size;
    ctx->frameCount = 1;
    if (!data || size <= 0) return 0;
    for (const ImageDecoder* decoder : gDecoders.entries()) {
        std::memset(ctx->privateArea, 0, sizeof ctx->privateArea);
        if (decoder->check(*ctx)) {
            ctx->decoder = decoder;
            return decoder->id;
        }
    }
    return 0;
}

plat::Handle imgDecodeFrame() {
    DecodeContext* ctx = imgDecodeContext();
    if (!ctx || !ctx->decoder) return 0;
    // Only bitmaps that an image may hold: bottom-up 24- or 32-bit sections
    // below the size limit. The decoder writes rows for exactly this size.
    if (ctx->width <= 0 || ctx->height <= 0 || (ctx->depth != 24 && ctx->depth != 32)) return 0;
    const std::int64_t rowBytes = imgRowBytes(ctx->width, ctx->depth);
    std::int64_t bytes = 0;
    if (!checkedMul<std::int64_t>(rowBytes, ctx->height, bytes) || bytes > kMaxDibSectionBytes) return 0;

    const plat::Handle bitmap = imgCreateDIBSection(ctx->width, ctx->height, ctx->depth);
    plat::BitmapDesc bm{};
    if (!bitmap || !plat::bitmapIsDibSection(bitmap) || !plat::bitmapDescribe(bitmap, bm) || !bm.bits ||
        bm.width != ctx->width || bm.height != ctx->height || bm.bitsPerPixel != ctx->depth) {
        if (bitmap) plat::objectDelete(bitmap);
        return 0;
    }
    if (!ctx->decoder->decode(*ctx, static_cast<std::uint8_t*>(bm.bits), static_cast<std::int32_t>(rowBytes),
                              kDecodeBottomUp)) {
        plat::objectDelete(bitmap);
        return 0;
    }
    return bitmap;
}

void imgEndDecode() {
    DecodeContext* ctx = imgDecodeContext();
    if (ctx && ctx->decoder) ctx->decoder->cleanup(*ctx);
}

std::int64_t imgDecodeWidth() { return imgDecodeContext() ? imgDecodeContext()->width : 0; }
std::int64_t imgDecodeHeight() { return imgDecodeContext() ? imgDecodeContext()->height : 0; }
std::int64_t imgDecodeDepth() { return imgDecodeContext() ? imgDecodeContext()->depth : 0; }
std::int64_t imgDecodeSourceDepth() { return imgDecodeContext() ? imgDecodeContext()->sourceDepth : 0; }
std::int64_t imgDecodeFrameCount() { return imgDecodeContext() ? imgDecodeContext()->frameCount : 0; }
std::int64_t imgDecodeFrameDelay() { return imgDecodeContext() ? imgDecodeContext()->frameDelay : 0; }

}  // namespace oct
