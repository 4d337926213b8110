// AVIF through libavif: the image as viewers show it. A still file gives
// its primary item (a grid decoded whole); a sequence (avis) its track, one
// frame after another, each covering the picture. libavif converts YUV to
// RGB and undoes premultiplied alpha; the transformations the properties
// name are applied here, in the order images are shown in: the clean
// aperture's crop, then the rotation (irot, anti-clockwise), then the mirror
// (imir). Samples over 8 bits become 8 bits by their high bits
// (v >> (depth - 8)), the rule of every other format here.
//
// libavif rather than libheif for AVIF: it keeps a grid's tiles in the
// order of their references (libheif 1.15 lays some out in another order),
// it reads the files whose item boxes only libavif's own reader accepts
// (a meta box of size 0, files without pixi or ispe from older writers),
// and its colour conversion is the one of avifdec, the reference decoder.
#include <avif/avif.h>

#include <algorithm>
#include <new>
#include <thread>

#include "platform/fail_reason.h"
#include "platform/picture_failure.h"
#include "platform/pictures.h"
#include "platform/posix/picture.h"

namespace oct::plat {
namespace {

struct AvifReader : PictureReader {
    avifDecoder* decoder;
    avifCropRect crop;        // of the decoded image
    std::uint8_t turns;       // anti-clockwise quarter turns, 0 .. 3
    int mirror;               // -1 none, 0 top and bottom exchanged, 1 left and right
    std::int32_t width, height;  // as shown
    std::int32_t frameCount;
};

bool avifFailed(avifResult result, const avifDecoder* decoder) {
    if (result == AVIF_RESULT_OUT_OF_MEMORY) return failSet(FailCode::NoMemory, "out of memory");
    const char* words = decoder && decoder->diag.error[0] ? decoder->diag.error : avifResultToString(result);
    return pictureDamaged(PictureFormat::Avif, words);
}

void avifRelease(AvifReader* reader) {
    if (reader->decoder) avifDecoderDestroy(reader->decoder);
    delete reader;
}

// The decoded image's part that is shown: the clean aperture where it is a
// valid one, else all of it (a clap that does not convert to a crop inside
// the image is ignored, as viewers ignore it).
avifCropRect shownPart(const avifImage& image) {
    avifCropRect crop{0, 0, image.width, image.height};
    if (image.transformFlags & AVIF_TRANSFORM_CLAP) {
        avifCropRect clap{};
        avifDiagnostics diag{};
        if (avifCropRectConvertCleanApertureBox(&clap, &image.clap, image.width, image.height, image.yuvFormat, &diag) &&
            clap.width >= 1 && clap.height >= 1 && clap.x <= image.width - clap.width &&
            clap.y <= image.height - clap.height)
            crop = clap;
    }
    return crop;
}

PictureReader* avifOpen(const std::uint8_t* data, std::size_t size, const PictureLimits& limits, PictureInfo& info) {
    auto* reader = new (std::nothrow) AvifReader{};
    if (!reader) return nullptr;
    reader->decoder = avifDecoderCreate();
    if (!reader->decoder) return avifRelease(reader), nullptr;
    avifDecoder& decoder = *reader->decoder;
    // Files from writers that left out pixi, ispe on an alpha item, or wrote
    // a clean aperture off by a pixel load as viewers load them.
    decoder.strictFlags = AVIF_STRICT_DISABLED;
    decoder.ignoreExif = AVIF_TRUE;
    decoder.ignoreXMP = AVIF_TRUE;
    decoder.maxThreads = static_cast<int>(std::clamp(std::thread::hardware_concurrency(), 1u, 8u));
    // Before the boxes are read: every image item, a grid's tiles too, is
    // held to the limits before any pixels exist.
    decoder.imageDimensionLimit = static_cast<std::uint32_t>(limits.maxSide);
    // libavif takes no size limit above its own default (16384 × 16384).
    decoder.imageSizeLimit = static_cast<std::uint32_t>(std::min<std::int64_t>(
        {limits.maxBytes / 4, std::int64_t{limits.maxSide} * limits.maxSide, AVIF_DEFAULT_IMAGE_SIZE_LIMIT}));
    decoder.imageCountLimit = static_cast<std::uint32_t>(limits.maxFrames);
    avifResult result = avifDecoderSetIOMemory(&decoder, data, size);
    if (result == AVIF_RESULT_OK) result = avifDecoderParse(&decoder);
    if (result != AVIF_RESULT_OK) return avifFailed(result, &decoder), avifRelease(reader), nullptr;
    const avifImage& image = *decoder.image;
    if (image.width < 1 || image.height < 1) {
        pictureDamaged(PictureFormat::Avif, "no pixels");
        return avifRelease(reader), nullptr;
    }
    reader->crop = shownPart(image);
    reader->turns = (image.transformFlags & AVIF_TRANSFORM_IROT) ? image.irot.angle & 3 : 0;
    reader->mirror = (image.transformFlags & AVIF_TRANSFORM_IMIR) ? image.imir.mode & 1 : -1;
    const bool sideways = reader->turns & 1;
    const std::int64_t width = sideways ? reader->crop.height : reader->crop.width;
    const std::int64_t height = sideways ? reader->crop.width : reader->crop.height;
    if (!pictureFits(limits, width, height)) return avifRelease(reader), nullptr;
    reader->width = static_cast<std::int32_t>(width);
    reader->height = static_cast<std::int32_t>(height);
    reader->frameCount = std::max(decoder.imageCount, 1);
    if (reader->frameCount > limits.maxFrames) {
        failSet(FailCode::TooLarge, "%d frames; at most %d", reader->frameCount, limits.maxFrames);
        return avifRelease(reader), nullptr;
    }
    const int depth = static_cast<int>(std::clamp(image.depth, 8u, 16u));
    info.width = reader->width;
    info.height = reader->height;
    info.sourceDepth = depth * (decoder.alphaPresent ? 4 : 3);
    info.alpha = decoder.alphaPresent != 0;
    info.frameCount = reader->frameCount;
    return reader;
}

bool avifFrameInfo(PictureReader* base, std::int32_t index, PictureFrame& frame) {
    const auto* reader = static_cast<AvifReader*>(base);
    if (index < 0 || index >= reader->frameCount) return false;
    frame = PictureFrame{0, 0, reader->width, reader->height, 0, FrameDisposal::Keep, false};
    avifImageTiming timing{};
    if (reader->frameCount > 1 &&
        avifDecoderNthImageTiming(reader->decoder, static_cast<std::uint32_t>(index), &timing) == AVIF_RESULT_OK)
        frame.delayMs = static_cast<std::int32_t>(std::clamp(timing.duration * 1000.0 + 0.5, 0.0, 1e9));
    return true;
}

// Where the shown pixel (x, y) lies in the crop: the mirror undone first,
// then the turns, since they were applied the other way round.
void sourceOf(const AvifReader& r, std::int32_t x, std::int32_t y, std::uint32_t& sx, std::uint32_t& sy) {
    if (r.mirror == 0) y = r.height - 1 - y;
    if (r.mirror == 1) x = r.width - 1 - x;
    const auto w = static_cast<std::int32_t>(r.crop.width), h = static_cast<std::int32_t>(r.crop.height);
    std::int32_t cx = x, cy = y;
    switch (r.turns) {
        case 1: cx = w - 1 - y, cy = x; break;          // a quarter turn anti-clockwise
        case 2: cx = w - 1 - x, cy = h - 1 - y; break;  // a half turn
        case 3: cx = y, cy = h - 1 - x; break;          // a quarter turn clockwise
        default: break;
    }
    sx = r.crop.x + static_cast<std::uint32_t>(cx);
    sy = r.crop.y + static_cast<std::uint32_t>(cy);
}

bool avifDecode(PictureReader* base, std::int32_t index, const RowTarget& target) {
    auto* reader = static_cast<AvifReader*>(base);
    avifDecoder* decoder = reader->decoder;
    if (const avifResult result = avifDecoderNthImage(decoder, static_cast<std::uint32_t>(index));
        result != AVIF_RESULT_OK)
        return avifFailed(result, decoder);
    const avifImage& image = *decoder->image;
    // Every frame of a sequence has the sides of the first, or the crop and
    // turns worked out at the open would not fit it.
    if (image.width < reader->crop.x + reader->crop.width || image.height < reader->crop.y + reader->crop.height)
        return pictureDamaged(PictureFormat::Avif, "a frame smaller than the picture");
    avifRGBImage rgb;
    avifRGBImageSetDefaults(&rgb, &image);
    rgb.format = AVIF_RGB_FORMAT_BGRA;
    rgb.depth = std::clamp(image.depth, 8u, 16u);
    rgb.alphaPremultiplied = AVIF_FALSE;  // libavif makes premultiplied alpha straight
    avifRGBImageAllocatePixels(&rgb);
    if (!rgb.pixels) return failSet(FailCode::NoMemory, "out of memory");
    bool ok = avifImageYUVToRGB(&image, &rgb) == AVIF_RESULT_OK;
    if (!ok) pictureDamaged(PictureFormat::Avif, "its colours cannot be converted");
    const bool wide = rgb.depth > 8;
    const unsigned shift = rgb.depth - 8;
    const std::ptrdiff_t pixelBytes = wide ? 8 : 4;
    auto offsetOf = [&](std::int32_t x, std::int32_t y) {
        std::uint32_t sx = 0, sy = 0;
        sourceOf(*reader, x, y, sx, sy);
        return static_cast<std::ptrdiff_t>(sy) * rgb.rowBytes + static_cast<std::ptrdiff_t>(sx) * pixelBytes;
    };
    // Along a shown row the source moves by one pixel in a fixed direction.
    const std::ptrdiff_t step = target.width > 1 ? offsetOf(1, 0) - offsetOf(0, 0) : 0;
    for (std::int32_t y = 0; ok && y < target.height; ++y) {
        std::uint8_t* row = target.row(y);
        std::ptrdiff_t at = offsetOf(0, y);
        for (std::int32_t x = 0; x < target.width; ++x, at += step) {
            const std::uint8_t* p = rgb.pixels + at;
            std::uint8_t s[4];
            if (wide) {
                const auto* q = reinterpret_cast<const std::uint16_t*>(p);
                for (int c = 0; c < 4; ++c) s[c] = static_cast<std::uint8_t>(std::min<unsigned>(255, q[c] >> shift));
            } else {
                for (int c = 0; c < 4; ++c) s[c] = p[c];
            }
            putPixel(row, x, target.bpp, s[0], s[1], s[2], s[3]);
        }
    }
    avifRGBImageFreePixels(&rgb);
    return ok;
}

void avifClose(PictureReader* base) { avifRelease(static_cast<AvifReader*>(base)); }

}  // namespace

const PictureCodec kAvifCodec{.open = avifOpen, .frameInfo = avifFrameInfo, .decode = avifDecode, .close = avifClose};

}  // namespace oct::plat
