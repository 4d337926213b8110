// TIFF through libtiff, first page only. libtiff's RGBA reader rounds 16-bit
// samples, premultiplies unassociated alpha, turns some orientations, reads
// signed samples as unsigned and has no 12-bit, 32-bit or 16-bit CMYK
// samples at all, so the common layouts are read here, strip by strip or tile
// by tile, and converted by the pixel rules:
//   gray (min-is-black or min-is-white) of 1, 2, 4, 8, 12, 16 or 32 bits,
//   palette of 1, 2, 4 or 8 bits, RGB and CMYK of 8, 12, 16 or 32 bits, each
//   with or without an extra sample, contiguous or in separate planes,
//   unsigned or (but for palettes and gray under 8 bits) signed, in either
//   byte order, any compression and predictor libtiff decodes to samples
//   (JPEG-compressed YCbCr is asked for as RGB).
// The rule for a sample of more than 8 bits is its high byte, as for 16-bit
// PNG: v >> (bits − 8), so 12-bit v >> 4, 16-bit v >> 8, 32-bit v >> 24, never
// rounded. A signed sample is first offset to unsigned, v + 2^(bits − 1)
// (−32768 .. 32767 to 0 .. 65535 for 16 bits), so that the most negative
// value is the darkest; on the stored two's complement that is flipping the
// top bit. CMYK ink becomes light by pixelCmykToLight, Pillow's rule.
// Floating-point and complex samples are refused with that reason (but for
// LogLuv, whose codec gives 8-bit colour itself). Everything else (other
// YCbCr, LogLuv, other inks, old-style JPEG …) goes through
// TIFFReadRGBAImageOriented; see rgbaFallback for what that gives.
#include <tiffio.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "platform/fail_reason.h"
#include "platform/picture_failure.h"
#include "platform/picture_pixels.h"
#include "platform/pictures.h"
#include "platform/posix/picture.h"

namespace oct::plat {
namespace {

// --- reading from memory ----------------------------------------------------

struct MemorySource {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t at;
};

tmsize_t readMemory(thandle_t handle, void* out, tmsize_t wanted) {
    auto* source = static_cast<MemorySource*>(handle);
    if (wanted <= 0 || source->at >= source->size) return 0;
    const std::size_t n = std::min(static_cast<std::size_t>(wanted), source->size - source->at);
    std::memcpy(out, source->data + source->at, n);
    source->at += n;
    return static_cast<tmsize_t>(n);
}

tmsize_t writeNothing(thandle_t, void*, tmsize_t) { return 0; }

toff_t seekMemory(thandle_t handle, toff_t offset, int whence) {
    auto* source = static_cast<MemorySource*>(handle);
    std::uint64_t base = 0;
    if (whence == SEEK_CUR) base = source->at;
    else if (whence == SEEK_END) base = source->size;
    // Past the end is allowed (reads there give nothing); wrapping is not.
    if (offset > UINT64_MAX - base) return static_cast<toff_t>(-1);
    const std::uint64_t to = base + offset;
    source->at = static_cast<std::size_t>(std::min<std::uint64_t>(to, SIZE_MAX));
    return to;
}

int closeNothing(thandle_t) { return 0; }
toff_t sizeOfMemory(thandle_t handle) { return static_cast<MemorySource*>(handle)->size; }
int mapNothing(thandle_t, void**, toff_t*) { return 0; }
void unmapNothing(thandle_t, void*, toff_t) {}

// libtiff's messages are not ours to print; returning 1 keeps them from the
// process-wide handlers too.
int quiet(TIFF*, void*, const char*, const char*, va_list) { return 1; }

// An error's words become the reason of a failure that follows (the first
// one stands); libtiff reports errors it then recovers from too, and a
// picture that loads after all leaves the reason unread.
int recordError(TIFF*, void*, const char*, const char* format, va_list args) {
    char words[128];
    if (std::vsnprintf(words, sizeof words, format, args) < 0) words[0] = '\0';
    // The name the reader gives libtiff for the picture says nothing.
    constexpr char kName[] = "picture: ";
    const bool named = std::strncmp(words, kName, sizeof kName - 1) == 0;
    pictureDamaged(PictureFormat::Tiff, named ? words + sizeof kName - 1 : words);
    return 1;
}

// --- the reader -------------------------------------------------------------

enum class TiffLayout { Gray, Palette, Rgb, Cmyk, Fallback };

struct TiffReader : PictureReader {
    MemorySource source;
    TIFF* tiff;
    PictureLimits limits;
    std::int32_t width, height;
    TiffLayout layout;
    std::uint16_t bits, samples, photometric, planar;
    std::int32_t alphaSample;  // sample index of the alpha, or −1
    bool associated;           // the alpha is premultiplied in the file
    bool isSigned;             // two's complement samples (SampleFormat 2)
    std::uint16_t orientation;
};

// Bits a sample of colour (gray, RGB, CMYK) that sampleAt and to8 read:
// whole bytes of 8, 16 or 32 bits, 12 bits packed across bytes.
bool wideSampleBits(std::uint16_t bits) { return bits == 8 || bits == 12 || bits == 16 || bits == 32; }

// The samples this reader converts itself; see the opening comment.
TiffLayout layoutOf(TiffReader& r, std::uint16_t compression, std::uint16_t format) {
    if (format != SAMPLEFORMAT_UINT && format != SAMPLEFORMAT_INT) return TiffLayout::Fallback;
    r.isSigned = format == SAMPLEFORMAT_INT;
    // Signed samples are offset to unsigned for gray, RGB and CMYK of a byte
    // or more; signed palette indices or signed samples of fewer bits mean
    // nothing the rules map, and libtiff's reader takes them as it can.
    const bool signedReadable = r.photometric == PHOTOMETRIC_MINISBLACK || r.photometric == PHOTOMETRIC_MINISWHITE ||
                                r.photometric == PHOTOMETRIC_RGB || r.photometric == PHOTOMETRIC_SEPARATED;
    if (r.isSigned && (!signedReadable || r.bits < 8)) return TiffLayout::Fallback;
    if (r.photometric == PHOTOMETRIC_YCBCR && compression == COMPRESSION_JPEG && r.planar == PLANARCONFIG_CONTIG &&
        r.bits == 8 && r.samples == 3) {
        // libtiff's JPEG codec converts to RGB itself when asked, as Pillow asks it.
        if (!TIFFSetField(r.tiff, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB)) return TiffLayout::Fallback;
        r.photometric = PHOTOMETRIC_RGB;
        return TiffLayout::Rgb;
    }
    if (compression == COMPRESSION_OJPEG) return TiffLayout::Fallback;
    switch (r.photometric) {
        case PHOTOMETRIC_MINISBLACK:
        case PHOTOMETRIC_MINISWHITE:
            if (r.bits == 1 || r.bits == 2 || r.bits == 4 || wideSampleBits(r.bits)) return TiffLayout::Gray;
            break;
        case PHOTOMETRIC_PALETTE:
            if (r.bits == 1 || r.bits == 2 || r.bits == 4 || r.bits == 8) return TiffLayout::Palette;
            break;
        case PHOTOMETRIC_RGB:
            if (wideSampleBits(r.bits) && r.samples >= 3) return TiffLayout::Rgb;
            break;
        case PHOTOMETRIC_SEPARATED: {
            // Only the four process inks; other ink sets name their own inks.
            std::uint16_t inks = INKSET_CMYK;
            TIFFGetFieldDefaulted(r.tiff, TIFFTAG_INKSET, &inks);
            if (inks == INKSET_CMYK && wideSampleBits(r.bits) && r.samples >= 4) return TiffLayout::Cmyk;
            break;
        }
        default: break;
    }
    return TiffLayout::Fallback;
}

void tiffClose(PictureReader* base) {
    auto* reader = static_cast<TiffReader*>(base);
    if (reader->tiff) TIFFClose(reader->tiff);
    delete reader;
}

PictureReader* tiffOpen(const std::uint8_t* data, std::size_t size, const PictureLimits& limits, PictureInfo& info) {
    auto* reader = new (std::nothrow) TiffReader{};
    if (!reader) return nullptr;
    reader->source = MemorySource{data, size, 0};
    reader->limits = limits;
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    if (!options) {
        delete reader;
        return nullptr;
    }
    TIFFOpenOptionsSetMaxSingleMemAlloc(options, static_cast<tmsize_t>(limits.maxBytes));
    TIFFOpenOptionsSetErrorHandlerExtR(options, recordError, nullptr);
    TIFFOpenOptionsSetWarningHandlerExtR(options, quiet, nullptr);
    // "m": no memory mapping, so libtiff reads through readMemory and never
    // decodes in place in the caller's bytes.
    reader->tiff = TIFFClientOpenExt("picture", "rm", &reader->source, readMemory, writeNothing, seekMemory,
                                     closeNothing, sizeOfMemory, mapNothing, unmapNothing, options);
    TIFFOpenOptionsFree(options);
    if (!reader->tiff) {
        delete reader;
        return nullptr;
    }
    TIFF* tiff = reader->tiff;
    std::uint32_t width = 0, height = 0;
    std::uint16_t compression = COMPRESSION_NONE, format = SAMPLEFORMAT_UINT, extraCount = 0;
    std::uint16_t* extras = nullptr;
    if (!TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &width) || !TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &height) ||
        !pictureFits(limits, width, height) || !TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &reader->photometric)) {
        tiffClose(reader);
        return nullptr;
    }
    TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &reader->bits);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &reader->samples);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_PLANARCONFIG, &reader->planar);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_COMPRESSION, &compression);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLEFORMAT, &format);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_ORIENTATION, &reader->orientation);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_EXTRASAMPLES, &extraCount, &extras);
    reader->width = static_cast<std::int32_t>(width);
    reader->height = static_cast<std::int32_t>(height);
    const int colourSamples = reader->photometric == PHOTOMETRIC_RGB || reader->photometric == PHOTOMETRIC_YCBCR ||
                                      reader->photometric == PHOTOMETRIC_LOGLUV
                                  ? 3
                                  : reader->photometric == PHOTOMETRIC_SEPARATED ? 4 : 1;
    reader->alphaSample = -1;
    if (extraCount > 0 && extras && (extras[0] == EXTRASAMPLE_ASSOCALPHA || extras[0] == EXTRASAMPLE_UNASSALPHA) &&
        reader->samples > colourSamples) {
        reader->alphaSample = colourSamples;
        reader->associated = extras[0] == EXTRASAMPLE_ASSOCALPHA;
    }
    const bool logLuv = reader->photometric == PHOTOMETRIC_LOGLUV || reader->photometric == PHOTOMETRIC_LOGL;
    if (!logLuv &&
        (format == SAMPLEFORMAT_IEEEFP || format == SAMPLEFORMAT_COMPLEXINT || format == SAMPLEFORMAT_COMPLEXIEEEFP)) {
        // No pixel rule maps these to 8 bits (a float's range is the file's
        // own), and libtiff's RGBA reader has none either. This reason, not
        // any libtiff recorded while it opened the file, is the one to tell.
        failReplace(FailCode::NoCodec, "a TIFF of %s samples, which this system has no codec for",
                    format == SAMPLEFORMAT_IEEEFP ? "floating-point" : "complex-number");
        tiffClose(reader);
        return nullptr;
    }
    reader->layout = layoutOf(*reader, compression, format);
    if (reader->layout == TiffLayout::Gray && reader->samples < 1) reader->layout = TiffLayout::Fallback;

    info.width = reader->width;
    info.height = reader->height;
    // Both counts come from the file, up to 65535 each: their product is
    // kept within an int32 as the header reader keeps it.
    info.sourceDepth = static_cast<std::int32_t>(
        std::min<std::int64_t>(std::int64_t{reader->bits} * reader->samples, INT32_MAX));
    info.alpha = reader->alphaSample >= 0;
    info.frameCount = 1;
    return reader;
}

bool tiffFrameInfo(PictureReader* base, std::int32_t index, PictureFrame& frame) {
    const auto* reader = static_cast<TiffReader*>(base);
    return pictureStillFrame(reader->width, reader->height, index, frame);
}

// --- samples ----------------------------------------------------------------

// Sample `i` of a row of `bits`-bit samples. 16- and 32-bit ones are in host
// order: libtiff swaps the samples of a file of the other byte order when it
// decodes them (after undoing any predictor, which works in whole samples).
// Samples of other widths are packed high bit first and never swapped; a
// 12-bit one spans two bytes, and the bytes read are those that hold it.
std::uint32_t sampleAt(const std::uint8_t* row, std::size_t i, int bits) {
    switch (bits) {
        case 8: return row[i];
        case 16: {
            std::uint16_t v;
            std::memcpy(&v, row + 2 * i, 2);
            return v;
        }
        case 32: {
            std::uint32_t v;
            std::memcpy(&v, row + 4 * i, 4);
            return v;
        }
        default: {
            const std::size_t bit = i * static_cast<std::size_t>(bits);
            const std::uint8_t* at = row + bit / 8;
            const int skip = static_cast<int>(bit % 8);
            const int bytes = (skip + bits + 7) / 8;  // at most 3, for bits of 1, 2, 4 or 12
            std::uint32_t held = 0;
            for (int k = 0; k < bytes; ++k) held = held << 8 | at[k];
            return (held >> (8 * bytes - skip - bits)) & ((1u << bits) - 1);
        }
    }
}

// To 8 bits by the rules of the opening comment: samples of more than 8 bits
// by their high byte, fewer bits by replication. `v` holds `bits` bits.
std::uint8_t to8(std::uint32_t v, int bits) {
    if (bits > 8) return static_cast<std::uint8_t>(v >> (bits - 8));
    if (bits == 8) return static_cast<std::uint8_t>(v);
    return static_cast<std::uint8_t>(v * 255 / ((1u << bits) - 1));
}


// Samples are read and converted a band of rows at a time, so that memory
// holds one band's raw samples rather than the whole picture's (which, with
// many extra samples or wide ones, can be far larger than its bitmap):
//   - contiguous samples in strips: one row, through libtiff's scanline
//     reader, which decodes a strip of any height as it goes;
//   - separate planes in strips: one strip's rows of each plane;
//   - tiles: one row of tiles.
// A band above this size is refused: no real file needs strips or tiles
// that large, and a few bytes of header could otherwise ask for gigabytes.
constexpr std::uint64_t kMaxBandBytes = std::uint64_t{256} << 20;

// The raw samples of `rows` picture rows: one block per plane read (one for
// contiguous samples), each `rowBytes` a row.
struct RawBand {
    std::vector<std::uint8_t> bytes;
    std::size_t rowBytes = 0;
    std::uint32_t rows = 0;      // rows held now
    std::uint32_t capacity = 0;  // rows a plane's block has room for
    const std::uint8_t* row(int plane, std::uint32_t y) const {
        return bytes.data() + rowBytes * (static_cast<std::size_t>(capacity) * plane + y);
    }
    std::uint8_t* row(int plane, std::uint32_t y) {
        return bytes.data() + rowBytes * (static_cast<std::size_t>(capacity) * plane + y);
    }
};

bool makeBand(const TiffReader& r, RawBand& raw, std::uint32_t capacity, int planes) {
    raw.capacity = capacity;
    const std::uint64_t total = static_cast<std::uint64_t>(raw.rowBytes) * capacity * planes;
    if (total > kMaxBandBytes || total > static_cast<std::uint64_t>(r.limits.maxBytes)) return false;
    try {
        raw.bytes.resize(static_cast<std::size_t>(total));
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

// Rows first .. first + raw.rows − 1 of each plane, from the strips that hold them.
bool readStripBand(TiffReader& r, int planes, RawBand& raw, std::uint32_t first) {
    for (int p = 0; p < planes; ++p) {
        const tmsize_t want = static_cast<tmsize_t>(raw.rows * raw.rowBytes);
        const tstrip_t strip = TIFFComputeStrip(r.tiff, first, static_cast<tsample_t>(p));
        if (strip >= TIFFNumberOfStrips(r.tiff)) return false;
        if (TIFFReadEncodedStrip(r.tiff, strip, raw.row(p, 0), want) != want) return false;
    }
    return true;
}

// Copies `count` bits from the start of `from` to `to`, starting at bit `at`
// (bits counted from the high bit of each byte, as TIFF packs samples); the
// bits of `to` before and after them stay as they are.
void copyBits(std::uint8_t* to, std::uint64_t at, const std::uint8_t* from, std::uint64_t count) {
    if (at % 8 == 0) {
        std::memcpy(to + at / 8, from, static_cast<std::size_t>(count / 8));
        if (count % 8 == 0) return;
        const auto mask = static_cast<std::uint8_t>(0xFF << (8 - count % 8));
        std::uint8_t& last = to[(at + count) / 8];
        last = static_cast<std::uint8_t>((last & ~mask) | (from[count / 8] & mask));
        return;
    }
    for (std::uint64_t i = 0; i < count; ++i) {
        const int bit = (from[i / 8] >> (7 - i % 8)) & 1;
        std::uint8_t& byte = to[(at + i) / 8];
        const auto mask = static_cast<std::uint8_t>(0x80 >> ((at + i) % 8));
        byte = static_cast<std::uint8_t>(bit ? byte | mask : byte & ~mask);
    }
}

// The row of tiles that starts at picture row `first`, for each plane.
bool readTileBand(TiffReader& r, int planes, int samplesPerPlane, std::uint32_t tileWidth, std::uint32_t tileHeight,
                  std::vector<std::uint8_t>& tile, RawBand& raw, std::uint32_t first) {
    const tmsize_t tileBytes = static_cast<tmsize_t>(tile.size());
    const std::uint64_t tileRowBytes = TIFFTileRowSize64(r.tiff);
    const auto width = static_cast<std::uint32_t>(r.width);
    const std::uint64_t bitsPerPixel = static_cast<std::uint64_t>(samplesPerPlane) * r.bits;
    for (int p = 0; p < planes; ++p)
        for (std::uint32_t tx = 0; tx < width; tx += tileWidth) {
            const ttile_t index = TIFFComputeTile(r.tiff, tx, first, 0, static_cast<tsample_t>(p));
            if (index >= TIFFNumberOfTiles(r.tiff) || TIFFReadEncodedTile(r.tiff, index, tile.data(), tileBytes) < 0)
                return false;
            // TIFF asks for tile widths in multiples of 16, but libtiff reads
            // others too: with samples of fewer than 8 bits a tile may then
            // start inside a byte, and its bits are shifted into place.
            const std::uint64_t at = tx * bitsPerPixel;
            const std::uint64_t bits = std::min(tileWidth, width - tx) * bitsPerPixel;
            for (std::uint32_t y = 0; y < raw.rows && y < tileHeight; ++y)
                copyBits(raw.row(p, y), at, tile.data() + tileRowBytes * y, bits);
            if (tileWidth > width - tx) break;
        }
    return true;
}

// `separate`: each sample has a plane of its own (even when only one plane
// was read, as for gray stored with an extra sample that is not alpha).
// Converts the band's rows, picture rows first .. first + raw.rows − 1.
bool convertRows(TiffReader& r, const RawBand& raw, bool separate, const RowTarget& target, std::uint32_t first) {
    const int stride = separate ? 1 : r.samples;  // samples between one pixel's and the next
    std::uint16_t *red = nullptr, *green = nullptr, *blue = nullptr;
    if (r.layout == TiffLayout::Palette && !TIFFGetField(r.tiff, TIFFTAG_COLORMAP, &red, &green, &blue)) return false;
    // Signed samples are offset to unsigned: v + 2^(bits − 1), modulo 2^bits.
    const std::uint32_t offset = r.isSigned ? 1u << (r.bits - 1) : 0;
    for (std::uint32_t y = 0; y < raw.rows; ++y) {
        std::uint8_t* dst = target.row(static_cast<std::int32_t>(first + y));
        // Sample c of pixel x: in plane c when separate, at x × samples + c otherwise.
        auto sample = [&](std::int32_t x, int c) {
            const std::uint8_t* row = raw.row(separate ? c : 0, y);
            return sampleAt(row, static_cast<std::size_t>(x) * stride + (separate ? 0 : c), r.bits);
        };
        auto level = [&](std::int32_t x, int c) { return to8(sample(x, c) ^ offset, r.bits); };
        for (std::int32_t x = 0; x < r.width; ++x) {
            std::uint8_t b, g, rd;
            if (r.layout == TiffLayout::Palette) {
                const std::uint32_t i = sample(x, 0);  // below 2^bits, the colour map's length
                rd = static_cast<std::uint8_t>(red[i] >> 8);
                g = static_cast<std::uint8_t>(green[i] >> 8);
                b = static_cast<std::uint8_t>(blue[i] >> 8);
            } else if (r.layout == TiffLayout::Rgb) {
                rd = level(x, 0);
                g = level(x, 1);
                b = level(x, 2);
            } else if (r.layout == TiffLayout::Cmyk) {
                std::uint8_t ink[4] = {level(x, 0), level(x, 1), level(x, 2), level(x, 3)};
                if (r.alphaSample >= 0 && r.associated) {
                    // Premultiplied ink is made straight, as premultiplied colour is below.
                    const std::uint8_t a = level(x, r.alphaSample);
                    for (std::uint8_t& i : ink) i = unpremultiply(i, a);
                }
                rd = pixelCmykToLight(ink[0], ink[3]);
                g = pixelCmykToLight(ink[1], ink[3]);
                b = pixelCmykToLight(ink[2], ink[3]);
            } else {
                std::uint8_t v = level(x, 0);
                if (r.photometric == PHOTOMETRIC_MINISWHITE) v = static_cast<std::uint8_t>(255 - v);
                rd = g = b = v;
            }
            std::uint8_t a = 255;
            if (r.alphaSample >= 0) {
                a = level(x, r.alphaSample);
                if (r.associated && r.layout != TiffLayout::Cmyk) {
                    rd = unpremultiply(rd, a);
                    g = unpremultiply(g, a);
                    b = unpremultiply(b, a);
                }
            }
            putPixel(dst, x, target.bpp, b, g, rd, a);
        }
    }
    return true;
}

bool decodeSamples(TiffReader& r, const RowTarget& target) {
    const bool separate = r.planar == PLANARCONFIG_SEPARATE && r.samples > 1;
    // Separate planes: only the colour planes and the alpha plane are read.
    const int colourPlanes = r.layout == TiffLayout::Rgb ? 3 : r.layout == TiffLayout::Cmyk ? 4 : 1;
    const int planes = separate ? (r.alphaSample >= 0 ? r.alphaSample + 1 : colourPlanes) : 1;
    const int samplesPerPlane = separate ? 1 : r.samples;
    const auto height = static_cast<std::uint32_t>(r.height);
    RawBand raw;
    raw.rowBytes = static_cast<std::size_t>((static_cast<std::uint64_t>(r.width) * samplesPerPlane * r.bits + 7) / 8);
    // The decoders must agree on the row size, or a strip would not fit.
    if (TIFFScanlineSize64(r.tiff) != raw.rowBytes) return false;

    if (TIFFIsTiled(r.tiff)) {
        std::uint32_t tileWidth = 0, tileHeight = 0;
        if (!TIFFGetField(r.tiff, TIFFTAG_TILEWIDTH, &tileWidth) || !TIFFGetField(r.tiff, TIFFTAG_TILELENGTH, &tileHeight) ||
            tileWidth == 0 || tileHeight == 0)
            return false;
        const tmsize_t tileBytes = TIFFTileSize(r.tiff);
        const std::uint64_t tileRowBytes = TIFFTileRowSize64(r.tiff);
        if (tileBytes <= 0 || static_cast<std::uint64_t>(tileBytes) > kMaxBandBytes || tileRowBytes == 0 ||
            tileRowBytes * tileHeight > static_cast<std::uint64_t>(tileBytes))
            return false;
        std::vector<std::uint8_t> tile;
        if (!makeBand(r, raw, std::min(tileHeight, height), planes)) return false;
        try {
            tile.resize(static_cast<std::size_t>(tileBytes));
        } catch (const std::bad_alloc&) {
            return false;
        }
        for (std::uint32_t y = 0; y < height; y += tileHeight) {
            raw.rows = std::min(tileHeight, height - y);
            if (!readTileBand(r, planes, samplesPerPlane, tileWidth, tileHeight, tile, raw, y) ||
                !convertRows(r, raw, separate, target, y))
                return false;
            if (tileHeight > height - y) break;
        }
        return true;
    }
    if (!separate) {
        if (!makeBand(r, raw, 1, 1)) return false;
        raw.rows = 1;
        for (std::uint32_t y = 0; y < height; ++y)
            if (TIFFReadScanline(r.tiff, raw.row(0, 0), y, 0) != 1 || !convertRows(r, raw, separate, target, y))
                return false;
        return true;
    }
    std::uint32_t perStrip = 0;
    TIFFGetFieldDefaulted(r.tiff, TIFFTAG_ROWSPERSTRIP, &perStrip);
    if (perStrip == 0 || !makeBand(r, raw, std::min(perStrip, height), planes)) return false;
    for (std::uint32_t y = 0; y < height; y += perStrip) {
        raw.rows = std::min(perStrip, height - y);
        if (!readStripBand(r, planes, raw, y) || !convertRows(r, raw, separate, target, y)) return false;
        if (perStrip > height - y) break;
    }
    return true;
}

// libtiff's RGBA reader, asked for the file's own orientation so that no rows
// are turned: rows come out as stored. It gives 8 bits a sample (16-bit ones
// rounded rather than cut to the high byte), YCbCr and LogLuv converted by
// libtiff's own rules, and premultiplied colour, which is made straight
// here again by Pillow's rule (so colour under low alpha loses precision).
bool rgbaFallback(TiffReader& r, const RowTarget& target) {
    std::vector<std::uint32_t> raster;
    try {
        raster.resize(static_cast<std::size_t>(r.width) * r.height);
    } catch (const std::bad_alloc&) {
        return false;
    }
    if (!TIFFReadRGBAImageOriented(r.tiff, static_cast<std::uint32_t>(r.width), static_cast<std::uint32_t>(r.height),
                                   raster.data(), r.orientation, 0))
        return false;
    const bool alpha = r.alphaSample >= 0;
    for (std::int32_t y = 0; y < r.height; ++y) {
        const std::uint32_t* src = raster.data() + static_cast<std::size_t>(r.width) * y;
        std::uint8_t* dst = target.row(y);
        for (std::int32_t x = 0; x < r.width; ++x) {
            const std::uint32_t p = src[x];
            const auto a = static_cast<std::uint8_t>(alpha ? TIFFGetA(p) : 255);
            putPixel(dst, x, target.bpp, unpremultiply(static_cast<std::uint8_t>(TIFFGetB(p)), a),
                     unpremultiply(static_cast<std::uint8_t>(TIFFGetG(p)), a),
                     unpremultiply(static_cast<std::uint8_t>(TIFFGetR(p)), a), a);
        }
    }
    return true;
}

bool tiffDecode(PictureReader* base, std::int32_t, const RowTarget& target) {
    auto* reader = static_cast<TiffReader*>(base);
    return reader->layout == TiffLayout::Fallback ? rgbaFallback(*reader, target) : decodeSamples(*reader, target);
}

}  // namespace

const PictureCodec kTiffCodec{.open = tiffOpen, .frameInfo = tiffFrameInfo, .decode = tiffDecode,
                              .close = tiffClose};

}  // namespace oct::plat
