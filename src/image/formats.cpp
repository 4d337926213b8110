#include "image/formats.h"

#include <cstring>

#include "platform/fail_reason.h"
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

// JPEG XL: a bare codestream, or the container's signature box (docs/formats/heif-avif-jxl.md).
constexpr std::uint8_t kJxlCodestream[2] = {0xFF, 0x0A};
constexpr std::uint8_t kJxlContainer[12] = {0, 0, 0, 0x0C, 'J', 'X', 'L', ' ', 0x0D, 0x0A, 0x87, 0x0A};

template <std::size_t N>
bool startsWith(std::span<const std::uint8_t> data, const std::uint8_t (&signature)[N], std::size_t at = 0) {
    return data.size() >= at + N && std::memcmp(data.data() + at, signature, N) == 0;
}

// An ISO base media file starts with a box of type "ftyp" (docs/formats/heif-avif-jxl.md):
//  off size
//   0   4   box size, big-endian: 16 .. 4096
//   4   4   "ftyp"
//   8   4   major brand
//  12   4   minor version        not read
//  16  4n   compatible brands
constexpr std::size_t kFtypBrandsAt = 16;
constexpr std::uint32_t kMaxFtypSize = 4096;

bool brandIs(const std::uint8_t* brand, const char* name) { return std::memcmp(brand, name, 4) == 0; }

// What the ftyp box's brands say the file is: AVIF wins over the HEIF
// brands that an AVIF file lists too (mif1). 0 when the brands name neither.
std::uint32_t ftypFormat(std::span<const std::uint8_t> data) {
    if (data.size() < 12 || std::memcmp(data.data() + 4, "ftyp", 4) != 0) return 0;
    const std::uint32_t size = static_cast<std::uint32_t>(data[0]) << 24 | static_cast<std::uint32_t>(data[1]) << 16 |
                               static_cast<std::uint32_t>(data[2]) << 8 | data[3];
    if (size < 16 || size > kMaxFtypSize) return 0;
    const std::size_t end = size < data.size() ? size : data.size() - data.size() % 4;
    static constexpr const char* kAvif[] = {"avif", "avis"};
    static constexpr const char* kHeif[] = {"heic", "heix", "heim", "heis", "mif1", "msf1", "hevc", "hevx"};
    bool heif = false;
    auto look = [&](const std::uint8_t* brand) {
        for (const char* b : kAvif)
            if (brandIs(brand, b)) return true;
        for (const char* b : kHeif)
            if (brandIs(brand, b)) heif = true;
        return false;
    };
    if (look(data.data() + 8)) return kAvifFormat;
    for (std::size_t at = kFtypBrandsAt; at + 4 <= end; at += 4)
        if (look(data.data() + at)) return kAvifFormat;
    return heif ? kHeifFormat : 0;
}

}  // namespace

std::uint32_t imgSniffFormat(std::span<const std::uint8_t> data) {
    if (startsWith(data, kPngSignature)) return kPngFormat;
    if (startsWith(data, kJpegSignature)) return kJpegFormat;
    if (startsWith(data, kGif87) || startsWith(data, kGif89)) return kGifFormat;
    if (startsWith(data, kTiffLittle) || startsWith(data, kTiffBig)) return kTiffFormat;
    if (startsWith(data, kBigTiffLittle) || startsWith(data, kBigTiffBig)) return kBigTiffFormat;
    if (startsWith(data, kRiff) && startsWith(data, kWebp, 8)) return kWebpFormat;
    if (startsWith(data, kJxlContainer) || startsWith(data, kJxlCodestream)) return kJxlFormat;
    if (const std::uint32_t iso = ftypFormat(data)) return iso;
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
        case kHeifFormat: return "HEIF";
        case kAvifFormat: return "AVIF";
        case kJxlFormat: return "JPEG XL";
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
        case kHeifFormat: return plat::pictureHasCodec(plat::PictureFormat::Heif);
        case kAvifFormat: return plat::pictureHasCodec(plat::PictureFormat::Avif);
        case kJxlFormat: return plat::pictureHasCodec(plat::PictureFormat::Jxl);
        default: return format == kBmpFormat || format == kIconFormat;
    }
}

bool imgFailNoCodec(const char* formatName) {
    // Said as it is read: "an AVIF", "a HEIF".
    const char* article = formatName && (formatName[0] == 'A' || formatName[0] == 'E' || formatName[0] == 'I' ||
                                         formatName[0] == 'O' || formatName[0] == 'U')
                              ? "an"
                              : "a";
    return plat::failReplace(plat::FailCode::NoCodec, "%s %s picture, which this system has no codec for", article,
                             formatName ? formatName : "unnamed");
}

}  // namespace oct
