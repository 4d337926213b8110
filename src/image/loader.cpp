#include "image/loader.h"

#include <cstring>

#include "image/bmp_reader.h"
#include "image/icon_reader.h"
#include "image/image.h"
#include "image/limits.h"
#include "runtime/heap.h"
#include "runtime/object_table.h"
#include "runtime/thread_area.h"

namespace oct {
namespace {

// ---------------------------------------------------------------------------
// Registry and per-thread context
// ---------------------------------------------------------------------------

// Filled during module start only and read without a lock afterwards.
constexpr int kMaxDecoders = 30;
const ImageDecoder* gDecoders[kMaxDecoders];
int gDecoderCount = 0;

// Offset of the DecodeContext in every thread's block of areas; -1 when
// registration failed, and then every load fails.
std::int64_t gContextArea = -1;

DecodeContext* context() { return static_cast<DecodeContext*>(thrArea(gContextArea)); }

// ---------------------------------------------------------------------------
// Loading
// ---------------------------------------------------------------------------

void deleteBitmaps(const ImageFrame* frames, std::int32_t count) {
    for (std::int32_t i = 0; i < count; ++i) plat::objectDelete(frames[i].bitmap);
}

// Fills a loaded image's record: one frame held in `handle` unless the
// caller records more.
void describe(ImageObject& image, plat::Handle handle, std::int32_t width, std::int32_t height, std::int32_t depth,
              std::int32_t sourceDepth, std::uint32_t format) {
    image.handle = handle;
    image.width = width;
    image.height = height;
    image.depth = static_cast<std::uint8_t>(depth);
    image.sourceDepth = static_cast<std::uint8_t>(sourceDepth);
    image.format = format;
    image.frameCount = 1;
}

// What the icon reader made of a block of data.
enum class IconResult {
    NotAnIcon,  // not an icon file, or no icon could be made of it
    Loaded,     // the record holds the icon
    Failed,     // an icon was made but cannot be described; it is destroyed again
};

// Fills the record from an icon built from the data.

IconResult loadIcon(ImageObject& image, const std::uint8_t* data, std::int32_t size) {
    const plat::Handle icon = imgIconFromMemory(data, static_cast<std::size_t>(size));
    if (!icon) return IconResult::NotAnIcon;
    // The record describes the icon's colour bitmap. A monochrome icon has
    // none — only a mask of twice its height — so it has no size or depth
    // that an image of this library could state, and it is refused.
    plat::BitmapDesc colour{};
    if (!plat::iconDescribe(icon, colour) || colour.width <= 0 || colour.height <= 0 || colour.bitsPerPixel == 0 ||
        colour.bitsPerPixel > 255) {
        plat::objectDelete(icon);
        return IconResult::Failed;
    }
    describe(image, icon, colour.width, colour.height, colour.bitsPerPixel, colour.bitsPerPixel, kIconFormat);
    return IconResult::Loaded;
}

// Fills the record through the decoder that accepts the data; false when
// none does or a frame cannot be decoded (nothing is left then).
bool loadDecoded(ImageObject& image, const std::uint8_t* data, std::int32_t size) {
    const std::uint32_t format = imgFindDecoder(data, size);
    if (!format) return false;
    DecodeContext& ctx = *context();
    const std::int32_t frameCount = ctx.frameCount;

    plat::Handle handle = 0;
    ImageFrame* frames = nullptr;
    std::int32_t firstDelay = 0;
    if (frameCount > 1) {
        frames = static_cast<ImageFrame*>(memMainAlloc(static_cast<std::int64_t>(frameCount) * sizeof(ImageFrame)));
        std::int32_t made = 0;
        if (frames) {
            for (; made < frameCount; ++made) {
                frames[made].bitmap = imgDecodeFrame();
                if (!frames[made].bitmap) break;
                frames[made].delay = ctx.frameDelay;
            }
        }
        // All frames or none: a load never yields an image with frames missing.
        if (frames && made == frameCount) {
            handle = frames[0].bitmap;
            firstDelay = frames[0].delay;
        } else if (frames) {
            deleteBitmaps(frames, made);
            memMainFree(frames);
            frames = nullptr;
        }
    } else {
        handle = imgDecodeFrame();
    }
    imgEndDecode();
    if (!handle) return false;

    describe(image, handle, ctx.width, ctx.height, ctx.depth, ctx.sourceDepth, format);
    if (frames) image.frameCount = frameCount;
    image.firstFrameDelay = firstDelay;
    image.frames = frames;
    return true;
}

// Bytes read from the front of a file to recognise a plain BMP: its headers
// are at most 14 + 124 bytes (more for odd headers, which then are simply
// not plain).
constexpr std::uint32_t kProbeBytes = 256;

// A plain BMP file — uncompressed 24 bits per pixel, bottom row first, every
// stored row inside the file — is read straight into the bitmap of its image:
// its stored rows are the bitmap's rows byte for byte, so the file is never
// held in memory besides the picture. The result is exactly what the BMP
// decoder makes of the whole file (its 24-bit rows are copies, the row
// padding stays zero). 0 when the file is not such a file or the direct read
// fails; the caller then loads it the general way, and nothing is left
// behind but a number's previous image, which a load frees in any case.
std::int64_t loadPlainBmp(std::int64_t id, plat::File* file, std::int64_t size) {
    ObjectTable* table = imgTable();
    std::uint8_t probe[kProbeBytes];
    const auto probed = static_cast<std::uint32_t>(size < kProbeBytes ? size : kProbeBytes);
    if (!table || plat::fileReadAll(file, probe, probed) != probed) return 0;
    // "BM" files are never icons, and only the BMP decoder takes them.
    BmpDescription d;
    if (!imgBmpDescribe({probe, probed}, d) || d.refusal || d.bitCount != 24 || d.compression != 0 || d.height <= 0)
        return 0;
    const std::int64_t rowBytes = imgRowBytes(d.width, 24);
    std::int64_t pixelBytes = 0;
    if (!checkedMul<std::int64_t>(rowBytes, d.height, pixelBytes) || pixelBytes > kMaxDibSectionBytes ||
        d.pixelOffset > size || pixelBytes > size - d.pixelOffset)
        return 0;

    auto* image = static_cast<ImageObject*>(objNewObject(table, id));
    if (!image) return 0;
    const std::int64_t imageId = id == AnyId ? reinterpret_cast<std::int64_t>(image) : id;
    const plat::Handle bitmap = imgCreateDIBSection(d.width, d.height, 24);
    plat::BitmapDesc bm{};
    const bool read = bitmap && plat::bitmapIsDibSection(bitmap) && plat::bitmapDescribe(bitmap, bm) && bm.bits &&
                      bm.width == d.width && bm.height == d.height && bm.bitsPerPixel == 24 &&
                      bm.widthBytes == rowBytes && plat::fileSeek(file, d.pixelOffset, plat::SeekFrom::Begin) == d.pixelOffset &&
                      plat::fileReadAll(file, bm.bits, pixelBytes) == pixelBytes;
    if (!read) {
        if (bitmap) plat::objectDelete(bitmap);
        objReleaseObject(table, imageId);
        return 0;
    }
    // The decoder copies each row's pixels and leaves the padding zero.
    imgZeroRowPadding(bm.bits, d.width, d.height, rowBytes, 3);
    describe(*image, bitmap, d.width, d.height, 24, 24, kBmpDecoderId);
    return id == AnyId ? imageId : static_cast<std::int64_t>(bitmap);
}

}  // namespace

void imgStartDecoders() {
    gDecoderCount = 0;
    gContextArea = thrRegisterArea(sizeof(DecodeContext), nullptr, nullptr);
}

bool imgRegisterDecoder(const ImageDecoder* decoder) {
    if (!decoder || !decoder->id || !decoder->check || !decoder->decode || !decoder->cleanup) return false;
    if (gDecoderCount >= kMaxDecoders) return false;
    gDecoders[gDecoderCount++] = decoder;
    return true;
}

std::int64_t imgLoadImage(std::int64_t id, const char16_t* fileName) {
    if (!fileName) return 0;
    plat::File* file = plat::fileOpen(fileName, plat::kFileRead, plat::kShareRead, plat::FileCreation::OpenExisting);
    if (!file) return 0;
    const std::int64_t size = plat::fileSize(file);
    if (size > 0 && size <= kMaxImageDataBytes) {
        if (const std::int64_t plain = loadPlainBmp(id, file, size)) {
            plat::fileClose(file);
            return plain;
        }
        if (plat::fileSeek(file, 0, plat::SeekFrom::Begin) != 0) {
            plat::fileClose(file);
            return 0;
        }
    }
    // Files of kMaxImageDataBytes or more (4 GiB and beyond among them) are
    // refused before anything is allocated; so is an empty one.
    auto* buffer =
        size > 0 && size <= kMaxImageDataBytes ? static_cast<std::uint8_t*>(memMainAlloc(size, false)) : nullptr;
    const bool complete = buffer && plat::fileReadAll(file, buffer, size) == size;
    plat::fileClose(file);
    const std::int64_t result = complete ? imgLoadImageMemory(id, buffer, size) : 0;
    memMainFree(buffer);
    return result;
}

std::int64_t imgLoadImageMemory(std::int64_t id, const void* data, std::int64_t size) {
    ObjectTable* table = imgTable();
    if (!table || !data || size <= 0 || size > kMaxImageDataBytes) return 0;
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    const auto size32 = static_cast<std::int32_t>(size);

    // A number's previous image is freed here, whatever happens next.
    auto* image = static_cast<ImageObject*>(objNewObject(table, id));
    if (!image) return 0;
    const std::int64_t imageId = id == AnyId ? reinterpret_cast<std::int64_t>(image) : id;

    // A block of data is icon or decoder input, never both: an icon file
    // whose icon cannot be used is not handed on to the decoders.
    IconResult icon = loadIcon(*image, bytes, size32);
    const bool loaded =
        icon == IconResult::Loaded || (icon == IconResult::NotAnIcon && loadDecoded(*image, bytes, size32));
    if (!loaded) {
        objReleaseObject(table, imageId);
        return 0;
    }
    return id == AnyId ? imageId : static_cast<std::int64_t>(image->handle);
}

std::uint32_t imgFindDecoder(const std::uint8_t* data, std::int32_t size) {
    DecodeContext* ctx = context();
    if (!ctx) return 0;
    std::memset(ctx, 0, sizeof *ctx);
    ctx->data = data;
    ctx->dataSize = size;
    ctx->frameCount = 1;
    if (!data || size <= 0) return 0;
    for (int i = 0; i < gDecoderCount; ++i) {
        std::memset(ctx->privateArea, 0, sizeof ctx->privateArea);
        if (gDecoders[i]->check(*ctx)) {
            ctx->decoder = gDecoders[i];
            return gDecoders[i]->id;
        }
    }
    return 0;
}

plat::Handle imgDecodeFrame() {
    DecodeContext* ctx = context();
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
    DecodeContext* ctx = context();
    if (ctx && ctx->decoder) ctx->decoder->cleanup(*ctx);
}

std::int64_t imgDecodeWidth() { return context() ? context()->width : 0; }
std::int64_t imgDecodeHeight() { return context() ? context()->height : 0; }
std::int64_t imgDecodeDepth() { return context() ? context()->depth : 0; }
std::int64_t imgDecodeSourceDepth() { return context() ? context()->sourceDepth : 0; }
std::int64_t imgDecodeFrameCount() { return context() ? context()->frameCount : 0; }
std::int64_t imgDecodeFrameDelay() { return context() ? context()->frameDelay : 0; }

}  // namespace oct
