#include "image/formats.h"

#include <cstring>

#include "platform/pictures.h"

namespace oct {
namespace {

// ---------------------------------------------------------------------------
// Signatures
// ---------------------------------------------------------------------------

constexpr std::uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
constexpr std::uint8_t kJpegSignature[3] = {0xFF, 0xD8, 0xFF};  // SOI and the next marker's start
constexpr std::uint8_t kGif87[6] = {'G', 'I', 'F', '8', '7', 'a'};
constexpr std::uint8_t kGif89[6] = {'G', 'I', 'F', '8', '9', 'a'};
constexpr std::uint8_t kTiffLittle[4] = {'I', 'I', 42, 0};
constexpr std::uint8_t kTiffBig[4] = {'M', 'M', 0, 42};
constexpr std::uint8_t kBigTiffLittle[4] = {'I', 'I', 43, 0};
constexpr std::uint8_t kBigTiffBig[4] = {'M', 'M', 0, 43};
// WebP: a RIFF file, "RIFF", a 4-byte size, then the form type "WEBP".
constexpr std::uint8_t kRiff[4] = {'R', 'I', 'F', 'F'};
constexpr std::uint8_t kWebp[4] = {'W', 'E', 'B', 'P'};

template <std::size_t N>
bool startsWith(std::span<const std::uint8_t> data, const std::uint8_t (&signature)[N], std::size_t at = 0) {
    return data.size() >= at + N && std::memcmp(data.data() + at, signature, N) == 0;
}

}  // namespace

std::uint32_t imgSniffFormat(std::span<const std::uint8_t> data) {
    if (startsWith(data, kPngSignature)) return kPngFormat;
    if (startsWith(data, kJpegSignature)) return kJpegFormat;
    if (startsWith(data, kGif87) || startsWith(data, kGif89)) return kGifFormat;
    if (startsWith(data, kTiffLittle) || startsWith(data, kTiffBig)) return kTiffFormat;
    if (startsWith(data, kBigTiffLittle) || startsWith(data, kBigTiffBig)) return kBigTiffFormat;
    if (startsWith(data, kRiff) && startsWith(data, kWebp, 8)) return kWebpFormat;
    if (data.size() >= 2 && data[0] == 'B' && data[1] == 'M') return kBmpFormat;
    return 0;
}

const char* imgFormatName(std::uint32_t format) {
    switch (format) {
        case kBmpFormat: return "BMP";
        case kIconFormat: return "icon";
        case kPngFormat: return "PNG";
        case kJpegFormat: return "JPEG";
        case kGifFormat: return "GIF";
        case kTiffFormat: return "TIFF";
        case kBigTiffFormat: return "BigTIFF";
        case kWebpFormat: return "WebP";
        default: return nullptr;
    }
}

bool imgHasCodec(std::uint32_t format) {
    switch (format) {
        case kPngFormat: return plat::pictureHasCodec(plat::PictureFormat::Png);
        case kJpegFormat: return plat::pictureHasCodec(plat::PictureFormat::Jpeg);
        case kGifFormat: return plat::pictureHasCodec(plat::PictureFormat::Gif);
        case kTiffFormat: return plat::pictureHasCodec(plat::PictureFormat::Tiff);
        case kWebpFormat: return plat::pictureHasCodec(plat::PictureFormat::WebP);
        default: return format == kBmpFormat || format == kIconFormat;
    }
}

}  // namespace oct
