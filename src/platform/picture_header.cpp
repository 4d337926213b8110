#include "platform/picture_header.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>

#include "platform/fail_reason.h"
#include "platform/jpeg_segments.h"
#include "platform/picture_failure.h"
#include "platform/picture_sizes_modern.h"
#include "platform/pictures.h"

namespace oct::plat {
namespace {

// A cursor over the bytes given: every read is checked against the end, and
// a read past it gives zeros and turns ok() false.
class Bytes {
public:
    Bytes(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    std::size_t at() const { return at_; }
    std::size_t left() const { return size_ - at_; }
    bool ok() const { return ok_; }
    const std::uint8_t* here() const { return data_ + at_; }
    void seek(std::size_t to) {
        if (to > size_) ok_ = false;
        at_ = std::min(to, size_);
    }
    bool skip(std::size_t n) {
        if (n > left()) {
            ok_ = false;
            at_ = size_;
            return false;
        }
        at_ += n;
        return true;
    }
    std::uint32_t u8() { return have(1) ? data_[at_++] : 0; }
    std::uint32_t le16() { return bytes(2, false); }
    std::uint32_t le24() { return bytes(3, false); }
    std::uint32_t le32() { return bytes(4, false); }
    std::uint32_t be16() { return bytes(2, true); }
    std::uint32_t be32() { return bytes(4, true); }
    std::uint32_t u16(bool big) { return bytes(2, big); }
    std::uint32_t u32(bool big) { return bytes(4, big); }
    bool match(const char* text, std::size_t n) {
        if (!have(n) || std::memcmp(data_ + at_, text, n) != 0) return false;
        at_ += n;
        return true;
    }

private:
    bool have(std::size_t n) {
        if (n <= left()) return true;
        ok_ = false;
        at_ = size_;
        return false;
    }
    std::uint32_t bytes(std::size_t n, bool big) {
        if (!have(n)) return 0;
        std::uint32_t v = 0;
        for (std::size_t i = 0; i < n; ++i) {
            const std::uint32_t b = data_[at_ + i];
            v = big ? v << 8 | b : v | b << (8 * i);
        }
        at_ += n;
        return v;
    }

    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
    bool ok_ = true;
};

// Sizes are reported as int32; a declared size beyond that is as far beyond
// every limit as INT32_MAX is.
std::int32_t side(std::uint32_t v) { return static_cast<std::int32_t>(std::min<std::uint32_t>(v, INT32_MAX)); }

// --- PNG ----------------------------------------------------------------------
// The 8-byte signature, then chunks, IHDR first. A chunk, big-endian:
//  off size
//   0   4   data length      at most 2^31 - 1
//   4   4   type             four letters; upper-case first letter: critical
//   8   n   data
//  8+n  4   CRC-32 of type and data
// IHDR data: width (4), height (4), bit depth (1), colour type (1),
// compression, filter, interlace (1 each).
constexpr char kPngSignature[] = "\x89PNG\r\n\x1a\n";
constexpr std::uint32_t kPngMaxChunk = 0x7fffffff;

constexpr std::array<std::uint32_t, 256> makeCrcTable() {
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t n = 0; n < 256; ++n) {
        std::uint32_t c = n;
        for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xedb88320u ^ (c >> 1) : c >> 1;
        table[n] = c;
    }
    return table;
}
constexpr auto kCrcTable = makeCrcTable();

std::uint32_t crc32(const std::uint8_t* p, std::size_t n) {
    std::uint32_t c = 0xffffffffu;
    for (std::size_t i = 0; i < n; ++i) c = kCrcTable[(c ^ p[i]) & 0xff] ^ (c >> 8);
    return c ^ 0xffffffffu;
}

// Samples a pixel has for each colour type, 0 for types that do not exist,
// and the bit depths each type allows (bit n set: depth n).
constexpr int kPngSamples[7] = {1, 0, 3, 1, 2, 0, 4};
constexpr std::uint32_t kPngDepths[7] = {1u << 1 | 1u << 2 | 1u << 4 | 1u << 8 | 1u << 16, 0, 1u << 8 | 1u << 16,
                                         1u << 1 | 1u << 2 | 1u << 4 | 1u << 8, 1u << 8 | 1u << 16, 0,
                                         1u << 8 | 1u << 16};

bool pngDamaged(const char* words) { return pictureDamaged(PictureFormat::Png, words); }

// Walks every chunk up to IEND. Critical chunks must pass their CRC (as the
// Linux decoder insists); ancillary ones are left to the codec, which may
// drop them. A stream cut inside a chunk is left to the codec too, which
// refuses it or shows the rows it has.
bool readPng(Bytes in, PictureHeader& header) {
    if (!in.match(kPngSignature, 8)) return false;
    bool first = true, transparency = false;
    int colourType = 0;
    while (in.left() >= 12) {
        const std::uint32_t length = in.be32();
        const std::uint8_t* type = in.here();
        if (length > kPngMaxChunk) return pngDamaged("a chunk longer than 2^31 - 1 bytes");
        if (length > in.left() - 8) break;
        const bool critical = type[0] >= 'A' && type[0] <= 'Z';
        const bool ihdr = std::memcmp(type, "IHDR", 4) == 0;
        if (first != ihdr) return pngDamaged(first ? "the first chunk is not IHDR" : "a second IHDR chunk");
        in.skip(4);
        Bytes data(in.here(), length);
        in.skip(length);
        const std::uint32_t crc = in.be32();
        if (critical && crc != crc32(type, 4 + length)) {
            char words[48];
            std::snprintf(words, sizeof words, "%.4s checksum mismatch", reinterpret_cast<const char*>(type));
            return pngDamaged(words);
        }
        if (ihdr) {
            if (length != 13) return pngDamaged("an IHDR chunk not of 13 bytes");
            header.width = side(data.be32());
            header.height = side(data.be32());
            const std::uint32_t depth = data.u8();
            colourType = static_cast<int>(data.u8());
            if (colourType > 6 || depth > 16 || !(kPngDepths[colourType] >> depth & 1))
                return pngDamaged("a colour type and bit depth that do not go together");
            header.sourceDepth = kPngSamples[colourType] * static_cast<int>(depth);
            first = false;
        } else if (std::memcmp(type, "tRNS", 4) == 0) {
            transparency = true;
        } else if (std::memcmp(type, "IEND", 4) == 0) {
            break;
        }
    }
    if (first) return pngDamaged("cut short before its IHDR chunk");
    header.alpha = colourType == 4 || colourType == 6 || transparency;
    return true;
}

// --- GIF ----------------------------------------------------------------------
// Header "GIF87a" or "GIF89a", then the logical screen descriptor,
// little-endian:
//  off size
//   0   2   screen width
//   2   2   screen height
//   4   1   flags          bit 7: global colour table; bits 0-2: its size, 2^(n+1) entries
//   5   1   background index
//   6   1   aspect ratio
// then the global colour table (3 bytes an entry) and blocks, each opened by
// one byte: 0x21 extension (label, then data sub-blocks), 0x2C image, 0x3B end.
// Image descriptor after 0x2C: left, top, width, height (2 each), flags (as
// above: bit 7 a local table, bits 0-2 its size), the local table, the LZW
// code size (1) and data sub-blocks. Sub-blocks: a length byte, that many
// bytes; a zero length ends them.
// Graphic control extension (label 0xF9) data: flags (bit 0: transparent
// index given), delay (2), transparent index (1).
constexpr std::uint32_t kGifExtension = 0x21, kGifImage = 0x2c;  // 0x3B, the trailer, ends the walk like any other byte
constexpr std::uint32_t kGifControl = 0xf9;

bool skipSubBlocks(Bytes& in) {
    for (;;) {
        const std::uint32_t n = in.u8();
        if (!in.ok()) return false;
        if (n == 0) return true;
        if (!in.skip(n)) return false;
    }
}

// The colour of entry `index` of the table of `entries` entries at `table`
// (null: none), as red << 16 | green << 8 | blue; 0 past its end.
std::uint32_t gifColour(const std::uint8_t* table, std::uint32_t entries, std::uint32_t index) {
    if (!table || index >= entries) return 0;
    const std::uint8_t* c = table + 3 * index;
    return static_cast<std::uint32_t>(c[0]) << 16 | static_cast<std::uint32_t>(c[1]) << 8 | c[2];
}

bool readGif(Bytes in, PictureHeader& header) {
    if (!in.match("GIF87a", 6) && !in.match("GIF89a", 6)) return false;
    header.width = side(in.le16());
    header.height = side(in.le16());
    const std::uint32_t flags = in.u8();
    in.skip(2);
    const std::uint8_t* globalTable = nullptr;
    std::uint32_t globalEntries = 0;
    if (flags & 0x80) {
        header.sourceDepth = static_cast<std::int32_t>((flags & 7) + 1);
        globalEntries = 2u << (flags & 7);
        if (in.left() >= 3 * globalEntries) globalTable = in.here();
        in.skip(3 * globalEntries);
    }
    if (!in.ok()) return false;
    // A graphic control extension speaks for the image that follows it.
    int transparent = -1;
    header.frameCount = 0;
    // The walk stops at the trailer or where the blocks break off: the codec
    // shows the frames before a break, and so the count stays as far as the
    // last whole frame.
    while (in.left() > 0) {
        const std::uint32_t block = in.u8();
        if (block == kGifExtension) {
            const std::uint32_t label = in.u8();
            if (label == kGifControl && in.left() >= 5 && in.here()[0] >= 4)
                transparent = (in.here()[1] & 1) ? in.here()[4] : -1;
            if (!skipSubBlocks(in)) break;
        } else if (block == kGifImage) {
            const std::uint32_t x = in.le16(), y = in.le16();
            const std::uint32_t w = in.le16(), h = in.le16(), imageFlags = in.u8();
            const std::uint8_t* table = globalTable;
            std::uint32_t entries = globalEntries;
            if (imageFlags & 0x80) {
                entries = 2u << (imageFlags & 7);
                table = in.left() >= 3 * entries ? in.here() : nullptr;
                in.skip(3 * entries);
            }
            in.skip(1);
            if (!in.ok() || !skipSubBlocks(in)) break;
            if (header.frameCount == 0) {
                // Viewers show the whole first frame, its transparent pixels
                // and the screen it leaves uncovered in its transparent colour.
                header.width = std::max(header.width, side(x + w));
                header.height = std::max(header.height, side(y + h));
                header.alpha = transparent >= 0;
                if (transparent >= 0) header.clearColour = gifColour(table, entries, static_cast<std::uint32_t>(transparent));
            }
            transparent = -1;
            if (header.sourceDepth == 0)
                header.sourceDepth = (imageFlags & 0x80) ? static_cast<std::int32_t>((imageFlags & 7) + 1) : 8;
            header.largestFrameSide = std::max<std::int32_t>(header.largestFrameSide, side(std::max(w, h)));
            header.frameArea += static_cast<std::int64_t>(w) * h;
            if (++header.frameCount == INT32_MAX) break;
        } else {
            break;  // the trailer, or bytes that are no block
        }
    }
    return header.frameCount > 0;
}

// --- JPEG ---------------------------------------------------------------------
// Segments as jpeg_segments.h walks them. The frame header (SOF: 0xC0-0xCF
// but 0xC4 DHT, 0xC8 JPG and 0xCC DAC) holds precision (1), height (2),
// width (2) and the component count (1).
bool isFrameMarker(std::uint32_t code) {
    return code >= 0xc0 && code <= 0xcf && code != 0xc4 && code != 0xc8 && code != 0xcc;
}

bool readJpeg(const std::uint8_t* data, std::size_t size, PictureHeader& header) {
    JpegSegments segments({data, size});
    JpegSegment segment{};
    while (segments.next(segment)) {
        if (!isFrameMarker(segment.marker)) continue;
        Bytes in(segment.body.data(), segment.body.size());
        const std::uint32_t precision = in.u8();
        header.height = side(in.be16());
        header.width = side(in.be16());
        const std::uint32_t components = in.u8();
        if (!in.ok()) return false;
        header.sourceDepth = static_cast<std::int32_t>(precision * components);
        return true;
    }
    return false;
}

// --- TIFF ---------------------------------------------------------------------
// "II" (little-endian) or "MM" (big-endian), 42, the first directory's offset
// (4). A directory: entry count (2), then entries of 12 bytes:
//  off size
//   0   2   tag
//   2   2   type           3 SHORT (2 bytes), 4 LONG (4 bytes)
//   4   4   value count
//   8   4   the values when they fit in 4 bytes, else their offset
constexpr std::uint32_t kTiffWidth = 256, kTiffHeight = 257, kTiffBitsPerSample = 258;
constexpr std::uint32_t kTiffSamplesPerPixel = 277, kTiffExtraSamples = 338;
constexpr std::uint32_t kTiffShort = 3, kTiffLong = 4;
// ExtraSamples values that are alpha: 1 associated (premultiplied), 2 unassociated.
constexpr std::uint32_t kTiffAssociatedAlpha = 1, kTiffUnassociatedAlpha = 2;

// The first value of an entry whose reader stands at its type field.
std::uint32_t tiffFirstValue(Bytes& in, bool big, const std::uint8_t* data, std::size_t size) {
    const std::uint32_t type = in.u16(big), count = in.u32(big);
    const std::size_t width = type == kTiffShort ? 2 : type == kTiffLong ? 4 : 0;
    if (width == 0 || count == 0) {
        in.skip(4);
        return 0;
    }
    Bytes value = in;
    if (static_cast<std::uint64_t>(width) * count > 4) {
        const std::uint32_t offset = in.u32(big);
        value = Bytes(data, size);
        value.seek(offset);
    } else {
        in.skip(4);
    }
    const std::uint32_t v = width == 2 ? value.u16(big) : value.u32(big);
    return value.ok() ? v : 0;
}

bool readTiff(Bytes in, const std::uint8_t* data, std::size_t size, PictureHeader& header) {
    bool big;
    if (in.match("II*\0", 4)) big = false;
    else if (in.match("MM\0*", 4)) big = true;
    else return false;
    header.bigEndian = big;
    const std::uint32_t offset = in.u32(big);
    if (offset < 8) return false;
    in.seek(offset);
    const std::uint32_t count = in.u16(big);
    if (!in.ok() || static_cast<std::size_t>(count) * 12 > in.left()) return false;
    std::uint32_t width = 0, height = 0, bits = 1, samples = 1;
    for (std::uint32_t i = 0; i < count; ++i) {
        Bytes entry = in;
        in.skip(12);
        const std::uint32_t tag = entry.u16(big);
        switch (tag) {
            case kTiffWidth: width = tiffFirstValue(entry, big, data, size); break;
            case kTiffHeight: height = tiffFirstValue(entry, big, data, size); break;
            case kTiffBitsPerSample: bits = tiffFirstValue(entry, big, data, size); break;
            case kTiffSamplesPerPixel: samples = tiffFirstValue(entry, big, data, size); break;
            case kTiffExtraSamples: {
                const std::uint32_t extra = tiffFirstValue(entry, big, data, size);
                header.alpha = extra == kTiffAssociatedAlpha || extra == kTiffUnassociatedAlpha;
                break;
            }
            default: break;
        }
    }
    if (width == 0 || height == 0) return false;
    header.width = side(width);
    header.height = side(height);
    header.sourceDepth = side(std::min<std::uint64_t>(static_cast<std::uint64_t>(bits) * samples, INT32_MAX));
    return true;
}

// --- WebP ---------------------------------------------------------------------
// "RIFF", size (4), "WEBP", then chunks: four letters, data length (4,
// little-endian), data, a pad byte when the length is odd. The first chunk:
//   "VP8 "  lossy: frame tag (3), start code 9D 01 2A, width and height
//           (2 each, low 14 bits)
//   "VP8L"  lossless: 0x2F, then 32 bits: width − 1 (14), height − 1 (14),
//           alpha used (1)
//   "VP8X"  extended: flags (1: 0x10 alpha, 0x02 animation), 3 reserved,
//           canvas width − 1 (3), canvas height − 1 (3); an animation's
//           frames follow as "ANMF" chunks: x/2 (3), y/2 (3), width − 1 (3),
//           height − 1 (3), duration (3), flags (1), the frame's own chunks.
constexpr std::uint32_t kWebpAlpha = 0x10, kWebpAnimation = 0x02;

bool readWebp(Bytes in, PictureHeader& header) {
    if (!in.match("RIFF", 4)) return false;
    in.skip(4);
    if (!in.match("WEBP", 4)) return false;
    auto chunk = [&](Bytes& body) -> const std::uint8_t* {
        if (in.left() < 8) return nullptr;
        const std::uint8_t* name = in.here();
        in.skip(4);
        const std::uint32_t length = in.le32();
        if (length > in.left()) return nullptr;
        body = Bytes(in.here(), length);
        in.skip(length + (length & 1 && in.left() > length ? 1 : 0));
        return name;
    };
    Bytes body(nullptr, 0);
    const std::uint8_t* name = chunk(body);
    if (!name) return false;
    if (std::memcmp(name, "VP8 ", 4) == 0) {
        body.skip(3);
        if (!body.match("\x9d\x01\x2a", 3)) return false;
        header.width = side(body.le16() & 0x3fff);
        header.height = side(body.le16() & 0x3fff);
        header.sourceDepth = 24;
        return body.ok();
    }
    if (std::memcmp(name, "VP8L", 4) == 0) {
        if (body.u8() != 0x2f) return false;
        const std::uint32_t bits = body.le32();
        header.width = side((bits & 0x3fff) + 1);
        header.height = side((bits >> 14 & 0x3fff) + 1);
        header.alpha = bits >> 28 & 1;
        header.sourceDepth = header.alpha ? 32 : 24;
        return body.ok();
    }
    if (std::memcmp(name, "VP8X", 4) != 0) return false;
    const std::uint32_t flags = body.u8();
    body.skip(3);
    header.width = side(body.le24() + 1);
    header.height = side(body.le24() + 1);
    if (!body.ok()) return false;
    header.alpha = flags & kWebpAlpha;
    header.sourceDepth = header.alpha ? 32 : 24;
    if (!(flags & kWebpAnimation)) return true;
    header.frameCount = 0;
    while ((name = chunk(body))) {
        if (std::memcmp(name, "ANMF", 4) != 0) continue;
        body.skip(6);
        const std::uint32_t w = body.le24() + 1, h = body.le24() + 1;
        if (!body.ok()) break;
        header.largestFrameSide = std::max<std::int32_t>(header.largestFrameSide, side(std::max(w, h)));
        header.frameArea += static_cast<std::int64_t>(w) * h;
        if (++header.frameCount == INT32_MAX) break;
    }
    return header.frameCount > 0;
}

}  // namespace

bool pictureHeaderRead(PictureFormat format, const std::uint8_t* data, std::size_t size, PictureHeader& header) {
    header = PictureHeader{};
    if (!data) return false;
    const Bytes in(data, size);
    bool ok = false;
    switch (format) {
        case PictureFormat::Png: ok = readPng(in, header); break;
        case PictureFormat::Jpeg: ok = readJpeg(data, size, header); break;
        case PictureFormat::Gif: ok = readGif(in, header); break;
        case PictureFormat::Tiff: ok = readTiff(in, data, size, header); break;
        case PictureFormat::WebP: ok = readWebp(in, header); break;
        // Their sides alone; the codecs read the rest.
        case PictureFormat::Heif:
        case PictureFormat::Avif:
        case PictureFormat::Jxl: {
            const ModernSize sides =
                format == PictureFormat::Jxl ? jxlDeclaredSize(data, size) : heifDeclaredSize(data, size);
            if (!sides.found) return pictureDamaged(format, sides.why);
            header.width = sides.width;
            header.height = sides.height;
            return true;
        }
    }
    // The readers that name no cause of their own.
    return ok || pictureDamaged(format, "its headers are cut short or invalid");
}

bool pictureHeaderWithin(const PictureHeader& header, const PictureLimits& limits) {
    if (header.width < 1 || header.height < 1) return false;  // damaged: the image layer names the format
    if (header.width > limits.maxSide || header.height > limits.maxSide)
        return failSet(FailCode::TooLarge, "%d × %d pixels; at most %d a side", header.width, header.height,
                       limits.maxSide);
    if (static_cast<std::int64_t>(header.width) * header.height * 4 > limits.maxBytes)
        return failSet(FailCode::TooLarge, "%d × %d pixels; at most %lld MB a picture", header.width, header.height,
                       static_cast<long long>(limits.maxBytes >> 20));
    if (header.frameCount < 1) return false;
    if (header.frameCount > limits.maxFrames)
        return failSet(FailCode::TooLarge, "%d frames; at most %d", header.frameCount, limits.maxFrames);
    if (header.largestFrameSide <= limits.maxSide && header.frameArea <= limits.maxBytes) return true;
    return failSet(FailCode::TooLarge, "frames too large; at most %d a side and %lld MB in all", limits.maxSide,
                   static_cast<long long>(limits.maxBytes >> 20));
}

bool pictureHeaderAdmits(PictureFormat format, const std::uint8_t* data, std::size_t size,
                         const PictureLimits& limits, PictureHeader& header) {
    header = PictureHeader{};
    if (!data || size == 0 || !pictureHeaderRead(format, data, size, header) || !pictureHeaderWithin(header, limits))
        return false;
    if (pictureDataSuffices(format, header.width, header.height, size, limits)) return true;
    return failSet(FailCode::Damaged, "damaged %s (too few bytes for %d × %d pixels)", pictureFormatName(format),
                   header.width, header.height);
}

}  // namespace oct::plat
