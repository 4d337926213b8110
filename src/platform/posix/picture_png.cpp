// PNG through libspng. libspng's 8-bit RGB(A) output with tRNS applied is the
// pixel rule as it stands: 16-bit samples by their high byte, gray of 1, 2
// and 4 bits scaled by bit replication, palettes expanded, no gamma.
#include <spng.h>

#include <new>
#include <vector>

#include "platform/picture_failure.h"
#include "platform/pictures.h"
#include "platform/posix/picture.h"

namespace oct::plat {
namespace {

// Ancillary chunks are skipped beyond this size, and together they may not
// take more than this; text and profiles are never needed here.
constexpr std::size_t kChunkSizeLimit = 1u << 24;
constexpr std::size_t kChunkCacheLimit = 1u << 26;

struct PngReader : PictureReader {
    const std::uint8_t* data;
    std::size_t size;
    PictureLimits limits;
    std::int32_t width, height;
    bool alpha;
};

// A decoding context with the limits set, reading from the caller's bytes.
spng_ctx* pngContext(const std::uint8_t* data, std::size_t size, const PictureLimits& limits) {
    spng_ctx* ctx = spng_ctx_new(0);
    if (!ctx) return nullptr;
    const auto side = static_cast<std::uint32_t>(limits.maxSide);
    if (spng_set_image_limits(ctx, side, side) || spng_set_chunk_limits(ctx, kChunkSizeLimit, kChunkCacheLimit) ||
        spng_set_png_buffer(ctx, data, size)) {
        spng_ctx_free(ctx);
        return nullptr;
    }
    return ctx;
}

PictureReader* pngOpen(const std::uint8_t* data, std::size_t size, const PictureLimits& limits, PictureInfo& info) {
    spng_ctx* ctx = pngContext(data, size, limits);
    if (!ctx) return nullptr;
    spng_ihdr ihdr{};
    spng_trns trns{};
    const int ihdrResult = spng_get_ihdr(ctx, &ihdr);
    // libspng refuses sides beyond the limits itself; they are too large, not
    // damaged, and the reason gives them as the header does: IHDR has been
    // read, so it is the first chunk (signature 8, length 4, type 4, then
    // width and height, each 4 bytes big-endian).
    if (ihdrResult == SPNG_EUSER_WIDTH || ihdrResult == SPNG_EUSER_HEIGHT) {
        auto side = [&](std::size_t at) {
            return static_cast<std::int64_t>(data[at]) << 24 | data[at + 1] << 16 | data[at + 2] << 8 | data[at + 3];
        };
        pictureFits(limits, side(16), side(20));
    } else if (ihdrResult != 0) {
        pictureDamaged(PictureFormat::Png, spng_strerror(ihdrResult));
    }
    const bool ok = ihdrResult == 0 && pictureFits(limits, ihdr.width, ihdr.height);
    // tRNS lies before the image data; asking for it reads the chunks up to there.
    const int trnsResult = ok ? spng_get_trns(ctx, &trns) : SPNG_EINVAL;
    spng_ctx_free(ctx);
    if (ok && trnsResult != 0 && trnsResult != SPNG_ECHUNKAVAIL) pictureDamaged(PictureFormat::Png, spng_strerror(trnsResult));
    if (!ok || (trnsResult != 0 && trnsResult != SPNG_ECHUNKAVAIL)) return nullptr;

    int channels = 1;
    switch (ihdr.color_type) {
        case SPNG_COLOR_TYPE_TRUECOLOR: channels = 3; break;
        case SPNG_COLOR_TYPE_GRAYSCALE_ALPHA: channels = 2; break;
        case SPNG_COLOR_TYPE_TRUECOLOR_ALPHA: channels = 4; break;
        default: break;
    }
    auto* reader = new (std::nothrow) PngReader{};
    if (!reader) return nullptr;
    reader->data = data;
    reader->size = size;
    reader->limits = limits;
    reader->width = static_cast<std::int32_t>(ihdr.width);
    reader->height = static_cast<std::int32_t>(ihdr.height);
    reader->alpha = channels == 2 || channels == 4 || trnsResult == 0;
    info.width = reader->width;
    info.height = reader->height;
    info.sourceDepth = channels * ihdr.bit_depth;
    info.alpha = reader->alpha;
    info.frameCount = 1;
    return reader;
}

bool pngFrameInfo(PictureReader* base, std::int32_t index, PictureFrame& frame) {
    const auto* reader = static_cast<PngReader*>(base);
    return pictureStillFrame(reader->width, reader->height, index, frame);
}

// Decodes into `pixels`, one row of `rowBytes` after the other, and hands
// each finished row to the target. A picture stored row by row goes through
// one row's buffer; an interlaced one is complete only after its last pass,
// so it goes through a buffer of the whole picture.
bool pngDecodeRows(spng_ctx* ctx, const PngReader& reader, int format, std::size_t rowBytes,
                   const RowTarget& target) {
    const int channels = reader.alpha ? 4 : 3;
    spng_ihdr ihdr{};
    if (spng_get_ihdr(ctx, &ihdr) != 0) return false;
    const bool interlaced = ihdr.interlace_method != SPNG_INTERLACE_NONE;
    std::vector<std::uint8_t> pixels;
    try {
        pixels.resize(interlaced ? rowBytes * static_cast<std::size_t>(reader.height) : rowBytes);
    } catch (const std::bad_alloc&) {
        return false;
    }
    if (interlaced) {
        if (const int rc = spng_decode_image(ctx, pixels.data(), pixels.size(), format, SPNG_DECODE_TRNS))
            return pictureDamaged(PictureFormat::Png, spng_strerror(rc));
        for (std::int32_t y = 0; y < reader.height; ++y)
            putRgbRow(target.row(y), pixels.data() + rowBytes * y, reader.width, channels, target.bpp);
        return true;
    }
    if (const int rc = spng_decode_image(ctx, nullptr, 0, format, SPNG_DECODE_TRNS | SPNG_DECODE_PROGRESSIVE))
        return pictureDamaged(PictureFormat::Png, spng_strerror(rc));
    for (std::int32_t y = 0; y < reader.height; ++y) {
        const int result = spng_decode_row(ctx, pixels.data(), rowBytes);
        if (result != 0 && !(result == SPNG_EOI && y == reader.height - 1))
            return pictureDamaged(PictureFormat::Png, spng_strerror(result));
        putRgbRow(target.row(y), pixels.data(), reader.width, channels, target.bpp);
    }
    return true;
}

bool pngDecode(PictureReader* base, std::int32_t, const RowTarget& target) {
    const auto* reader = static_cast<PngReader*>(base);
    // A fresh context each time: a libspng context decodes its image once.
    spng_ctx* ctx = pngContext(reader->data, reader->size, reader->limits);
    if (!ctx) return false;
    const int format = reader->alpha ? SPNG_FMT_RGBA8 : SPNG_FMT_RGB8;
    const std::size_t rowBytes = static_cast<std::size_t>(reader->width) * (reader->alpha ? 4 : 3);
    std::size_t bytes = 0;
    bool ok = spng_decoded_image_size(ctx, format, &bytes) == 0 && bytes == rowBytes * reader->height &&
              static_cast<std::int64_t>(bytes) <= reader->limits.maxBytes;
    ok = ok && pngDecodeRows(ctx, *reader, format, rowBytes, target);
    // libspng stops once the rows are complete, before the last image chunk's
    // CRC; reading on checks it. A stream that merely ends there (no IEND)
    // keeps its picture, as other readers show it.
    ok = ok && (spng_decode_chunks(ctx) != SPNG_ECHUNK_CRC ||
                pictureDamaged(PictureFormat::Png, "the last image chunk's CRC does not match"));
    spng_ctx_free(ctx);
    return ok;
}

void pngClose(PictureReader* reader) { delete static_cast<PngReader*>(reader); }

}  // namespace

const PictureCodec kPngCodec{.open = pngOpen, .frameInfo = pngFrameInfo, .decode = pngDecode,
                             .close = pngClose};

}  // namespace oct::plat
