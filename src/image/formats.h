// Format ids: one 32-bit code per picture format, shared by the format's
// decoder (ImageDecoder::id), its encoder (ImageEncoder::id) and the images
// it loads (ImageObject::format). A code is four ASCII characters read as a
// little-endian value, the first character in the lowest byte, so that the
// id shows as its name in a memory dump. Beside the ids: how a format is told
// from its first bytes, its name, and whether this system can decode it.
#pragma once

#include <cstdint>
#include <span>

namespace oct {

constexpr std::uint32_t imgFormatId(char a, char b, char c, char d) {
    return static_cast<std::uint32_t>(static_cast<unsigned char>(a)) |
           static_cast<std::uint32_t>(static_cast<unsigned char>(b)) << 8 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(c)) << 16 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(d)) << 24;
}

// Windows bitmaps: "B", "M", "P", 0.
constexpr std::uint32_t kBmpFormat = imgFormatId('B', 'M', 'P', '\0');
// Icon files, which load as icon handles rather than through a decoder: "ICON".
constexpr std::uint32_t kIconFormat = imgFormatId('I', 'C', 'O', 'N');

// The pictures read through the platform's codecs.
constexpr std::uint32_t kPngFormat = imgFormatId('P', 'N', 'G', '\0');
constexpr std::uint32_t kJpegFormat = imgFormatId('J', 'P', 'E', 'G');
constexpr std::uint32_t kGifFormat = imgFormatId('G', 'I', 'F', '\0');
constexpr std::uint32_t kTiffFormat = imgFormatId('T', 'I', 'F', 'F');
constexpr std::uint32_t kWebpFormat = imgFormatId('W', 'E', 'B', 'P');
constexpr std::uint32_t kHeifFormat = imgFormatId('H', 'E', 'I', 'F');
constexpr std::uint32_t kAvifFormat = imgFormatId('A', 'V', 'I', 'F');
constexpr std::uint32_t kJxlFormat = imgFormatId('J', 'X', 'L', '\0');
// BigTIFF, told apart from TIFF by its version (43): no system here decodes
// it (WIC has no codec for it), so it is refused on every system alike, as
// a format without a codec. No decoder takes this id.
constexpr std::uint32_t kBigTiffFormat = imgFormatId('B', 'T', 'I', 'F');

// The values stored files and hosts have always seen.
static_assert(kBmpFormat == 0x504D42);
static_assert(kIconFormat == 0x4E4F4349);

// The format id whose signature starts `data`: BMP, one of the pictures
// read through the platform's codecs, or BigTIFF (which no decoder takes);
// 0 for none. Looks at the first bytes only: the file may still be corrupt.
std::uint32_t imgSniffFormat(std::span<const std::uint8_t> data);

// The format's name for people ("PNG", "JPEG", "GIF", "TIFF", "WebP", "HEIF",
// "AVIF", "JPEG XL", "BMP", "icon", "BigTIFF"), or null for an id it does not
// know.
const char* imgFormatName(std::uint32_t format);

// Whether this system can decode a format id at all: true for BMP and
// icons, and for the pictures when the platform has their codec.
bool imgHasCodec(std::uint32_t format);

// Records that a picture of the named format has no codec on this system
// ("an AVIF picture, which this system has no codec for"), over any reason
// recorded before: that is what the file is. Returns false.
bool imgFailNoCodec(const char* formatName);

}  // namespace oct
