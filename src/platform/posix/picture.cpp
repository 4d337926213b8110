// pictureOpen .. pictureClose on Linux: checks the caller's arguments once and
// hands each call to the format's codec table.
#include "platform/posix/picture.h"

#include "platform/fail_inject.h"
#include "platform/fail_reason.h"
#include "platform/picture_failure.h"
#include "platform/picture_header.h"
#include "platform/pictures.h"

namespace oct::plat {

bool pictureFits(const PictureLimits& limits, std::int64_t width, std::int64_t height) {
    if (width < 1 || height < 1) return false;  // damaged: the image layer names the format
    if (width > limits.maxSide || height > limits.maxSide)
        return failSet(FailCode::TooLarge, "%lld × %lld pixels; at most %d a side", static_cast<long long>(width),
                       static_cast<long long>(height), limits.maxSide);
    // Each side is at most 2^31, so the product of the two and 4 stays within 64 bits.
    if (width * height * 4 <= limits.maxBytes) return true;
    return failSet(FailCode::TooLarge, "%lld × %lld pixels; at most %lld MB a picture", static_cast<long long>(width),
                   static_cast<long long>(height), static_cast<long long>(limits.maxBytes >> 20));
}

bool pictureStillFrame(std::int32_t width, std::int32_t height, std::int32_t index, PictureFrame& frame) {
    if (index != 0) return false;
    frame = PictureFrame{0, 0, width, height, 0, FrameDisposal::Keep, false};
    return true;
}

void putRgbRow(std::uint8_t* row, const std::uint8_t* rgb, std::int32_t width, int channels, std::int32_t bpp) {
    // One loop for each pair, so that each stays simple enough to unroll.
    if (channels == 3 && bpp == 3) {
        for (std::int32_t x = 0; x < width; ++x, rgb += 3, row += 3) {
            row[0] = rgb[2];
            row[1] = rgb[1];
            row[2] = rgb[0];
        }
    } else if (channels == 4 && bpp == 4) {
        for (std::int32_t x = 0; x < width; ++x, rgb += 4, row += 4) {
            row[0] = rgb[2];
            row[1] = rgb[1];
            row[2] = rgb[0];
            row[3] = rgb[3];
        }
    } else {
        for (std::int32_t x = 0; x < width; ++x, rgb += channels)
            putPixel(row, x, bpp, rgb[2], rgb[1], rgb[0], channels == 4 ? rgb[3] : 255);
    }
}

namespace {

const PictureCodec* codecFor(PictureFormat format) {
    switch (format) {
        case PictureFormat::Png: return &kPngCodec;
        case PictureFormat::Jpeg: return &kJpegCodec;
        case PictureFormat::Gif: return &kGifCodec;
        case PictureFormat::Tiff: return &kTiffCodec;
        case PictureFormat::WebP: return &kWebPCodec;
        case PictureFormat::Heif: return &kHeifCodec;
        case PictureFormat::Avif: return &kAvifCodec;
        case PictureFormat::Jxl: return &kJxlCodec;
    }
    return nullptr;
}

}  // namespace

PictureReader* pictureOpen(PictureFormat format, const std::uint8_t* data, std::size_t size,
                           const PictureLimits& limits, PictureInfo& info) {
    info = PictureInfo{};
    const PictureCodec* codec = codecFor(format);
    if (!codec || !data || size == 0 || limits.maxSide < 1 || limits.maxBytes < 4 || limits.maxFrames < 1)
        return nullptr;
    // The gate of both systems, before the codec sees the bytes, so that a
    // picture is refused here exactly when it is on Windows (giflib alone
    // would take a GIF frame rectangle of any size, for one).
    PictureHeader header;
    if (!pictureHeaderAdmits(format, data, size, limits, header)) return nullptr;
    PictureReader* reader = failThisCall(FailKind::Codec) ? nullptr : codec->open(data, size, limits, info);
    // The codecs open from the headers alone and allocate nothing for the
    // pixels yet, so the data rule can follow them.
    if (reader && !pictureDataSuffices(format, info.width, info.height, size, limits)) {
        failSet(FailCode::Damaged, "damaged %s (too few bytes for %d × %d pixels)", pictureFormatName(format),
                info.width, info.height);
        codec->close(reader);
        reader = nullptr;
    }
    if (reader) reader->codec = codec;
    else info = PictureInfo{};
    return reader;
}

bool pictureFrameInfo(PictureReader* reader, std::int32_t index, PictureFrame& frame) {
    frame = PictureFrame{};
    if (!reader || index < 0) return false;
    return reader->codec->frameInfo(reader, index, frame);
}

bool pictureDecode(PictureReader* reader, std::int32_t index, std::uint8_t* rows, std::int32_t pitch,
                   std::int32_t bytesPerPixel, bool bottomUp) {
    PictureFrame frame{};
    if (!rows || (bytesPerPixel != 3 && bytesPerPixel != 4) || !pictureFrameInfo(reader, index, frame)) return false;
    // A frame wholly outside the screen has nothing to write.
    if (frame.width == 0 || frame.height == 0) return true;
    if (pitch < static_cast<std::int64_t>(frame.width) * bytesPerPixel) return false;
    const RowTarget target{rows, pitch, bytesPerPixel, bottomUp, frame.width, frame.height};
    return !failThisCall(FailKind::Codec) && reader->codec->decode(reader, index, target);
}

void pictureClose(PictureReader* reader) {
    if (reader) reader->codec->close(reader);
}

// Every format's library is linked in.
bool pictureHasCodec(PictureFormat format) { return codecFor(format) != nullptr; }

}  // namespace oct::plat
