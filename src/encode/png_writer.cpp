#include "encode/png_writer.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "platform/png_encode.h"
#include "runtime/file_replace.h"
#include "runtime/heap.h"

namespace oct {
namespace {

// Deflate effort and filters, chosen by measurement on rebuilt 8-level
// pictures. 4-bit indices without filters beat 8-bit gray with the Sub, Up or
// Paeth filter in size and time at every level. On Linux, where libdeflate
// compresses indexed pictures, level 5 is the lowest at which each of 13
// photographs came out smaller than zlib's level 5 made it (level 4 was up to
// 3.4 % larger): the photograph of 1165 × 859 takes 162,555 bytes, 1.012×
// Pillow's optimize=True 160,657, and one of 5640 × 3172 3.22 MB in 40 % of
// zlib's time. WIC on Windows takes no effort. RGB rows take adaptive
// filters at level 6 (zlib, through libspng), as most writers do.
constexpr std::int32_t kIndexedLevel = 5;
constexpr std::int32_t kTrueColourLevel = 6;
constexpr std::int32_t kMaxPaletteSize = 256;

// A pixel as one number: blue | green << 8 | red << 16 | alpha << 24.
std::uint32_t pixelAt(const std::uint8_t* p, int bytes) {
    return p[0] | static_cast<std::uint32_t>(p[1]) << 8 | static_cast<std::uint32_t>(p[2]) << 16 |
           static_cast<std::uint32_t>(bytes == 4 ? p[3] : 255) << 24;
}

// The distinct colours of a picture, as many as a palette holds, numbered in
// the order they first appear: open addressing in a power of two of places
// over twice as many as it holds, so that nearly every colour is found at its
// first place, by a branch that is then always taken. A place is one word
// (the colour, its number, and a bit saying the place is taken), so that a
// lookup is one load.
class ColourSet {
public:
    static constexpr std::uint32_t kPlaces = 1024;
    static_assert(kPlaces >= 2 * (kMaxPaletteSize + 1) && (kPlaces & (kPlaces - 1)) == 0);

    // The colour's number, the colour added when it is new; −1 when it is new
    // and the set holds a whole palette.
    int number(std::uint32_t colour) {
        const std::uint32_t i = hash(colour);
        const std::uint64_t place = places_[i];
        if ((place & kKeyAndTaken) == (colour | kTaken)) return static_cast<std::uint8_t>(place >> 32);
        return probe(colour, i);
    }
    int count() const { return count_; }
    std::uint32_t colour(int n) const { return order_[n]; }

private:
    static constexpr std::uint64_t kTaken = std::uint64_t{1} << 40;
    static constexpr std::uint64_t kKeyAndTaken = kTaken | 0xFFFFFFFFu;

    static std::uint32_t hash(std::uint32_t colour) { return (colour * 0x9E3779B1u) >> 22; }

    int probe(std::uint32_t colour, std::uint32_t i) {
        for (; places_[i] & kTaken; i = (i + 1) & (kPlaces - 1))
            if (static_cast<std::uint32_t>(places_[i]) == colour) return static_cast<std::uint8_t>(places_[i] >> 32);
        if (count_ == kMaxPaletteSize) return -1;
        places_[i] = colour | static_cast<std::uint64_t>(count_) << 32 | kTaken;
        order_[count_] = colour;
        return count_++;
    }

    std::uint64_t places_[kPlaces]{};
    std::uint32_t order_[kMaxPaletteSize]{};
    int count_ = 0;
};

// The rows and, for an indexed PNG, each pixel's colour number (ColourSet),
// in the rows' memory order: four bits a pixel, high first, while the picture
// has at most 16 colours, else a byte a pixel.
struct Source {
    PixelRows rows;
    int bytes;                            // 3 or 4 a pixel
    const std::uint8_t* numbers;          // non-null for an indexed PNG
    std::int64_t stride;                  // bytes from one row of numbers to the next
    bool nibbles;                         // four bits a number
    bool asStored;                        // the rows of numbers are the PNG's rows as they are
    std::uint8_t final[kMaxPaletteSize];  // colour number → the palette's index
    std::int32_t bitDepth;
};

std::int32_t storedRow(const Source& s, std::int32_t y) {
    return (s.rows.mode & kEncodeBottomUp) ? s.rows.height - 1 - y : y;
}

const std::uint8_t* sourceRow(const Source& s, std::int32_t y) {
    return s.rows.pixels + static_cast<std::int64_t>(storedRow(s, y)) * s.rows.pitch;
}

template <bool Nibbles>
std::uint8_t numberAt(const std::uint8_t* row, std::int32_t x) {
    if constexpr (Nibbles) return (x & 1) ? row[x >> 1] & 15 : row[x >> 1] >> 4;
    else return row[x];
}

template <bool Nibbles>
void packRow(const Source& s, const std::uint8_t* in, std::uint8_t* out) {
    const std::int32_t w = s.rows.width;
    if (s.bitDepth == 8) {
        for (std::int32_t x = 0; x < w; ++x) out[x] = s.final[numberAt<Nibbles>(in, x)];
        return;
    }
    const int perByte = 8 / s.bitDepth;
    std::uint8_t packed = 0;
    for (std::int32_t x = 0; x < w; ++x) {
        const int slot = x % perByte;
        packed = static_cast<std::uint8_t>(packed | s.final[numberAt<Nibbles>(in, x)] << (8 - s.bitDepth * (slot + 1)));
        if (slot == perByte - 1) {
            *out++ = packed;
            packed = 0;
        }
    }
    if (w % perByte) *out = packed;
}

void indexedRow(void* context, std::int32_t y, std::uint8_t* out) {
    const auto& s = *static_cast<const Source*>(context);
    const std::uint8_t* in = s.numbers + storedRow(s, y) * s.stride;
    if (s.asStored) std::memcpy(out, in, static_cast<std::size_t>(s.stride));
    else if (s.nibbles) packRow<true>(s, in, out);
    else packRow<false>(s, in, out);
}

void trueColourRow(void* context, std::int32_t y, std::uint8_t* out) {
    const auto& s = *static_cast<const Source*>(context);
    const std::uint8_t* p = sourceRow(s, y);
    if (s.bytes == 3) {
        for (std::int32_t x = 0; x < s.rows.width; ++x, p += 3, out += 3) {
            out[0] = p[2];
            out[1] = p[1];
            out[2] = p[0];
        }
        return;
    }
    for (std::int32_t x = 0; x < s.rows.width; ++x, p += 4, out += 4) {
        out[0] = p[2];
        out[1] = p[1];
        out[2] = p[0];
        out[3] = p[3];
    }
}

// The pixel at `p` as one number; all four bytes of a 32-bit pixel, and for
// a 24-bit one its three with an opaque alpha. `Wide` reads four bytes for a
// 24-bit pixel too, which is only allowed where a byte follows the pixel.
template <int Bytes, bool Wide>
std::uint32_t pixelKey(const std::uint8_t* p) {
    if constexpr (Bytes == 4 || Wide) {
        std::uint32_t v;
        std::memcpy(&v, p, 4);
        return Bytes == 4 ? v : (v | 0xFF000000u);
    } else {
        return pixelAt(p, 3);
    }
}

// Widens the first `rows` rows of four-bit numbers (⌈w / 2⌉ bytes a row) to
// a byte a number (w bytes a row) in the same block. Going from the last row
// and the last number backwards, each byte is written after the place of
// every number not yet read.
void widenNibbleRows(std::uint8_t* numbers, std::int32_t w, std::int32_t rows) {
    const std::int64_t half = (w + 1) / 2;
    for (std::int64_t y = rows - 1; y >= 0; --y) {
        const std::uint8_t* in = numbers + y * half;
        std::uint8_t* out = numbers + y * w;
        for (std::int32_t x = w - 1; x >= 0; --x) out[x] = numberAt<true>(in, x);
    }
}

// The rows of colour numbers, in one pass over the pixels. The last pixel of
// a row is read byte by byte, as nothing may follow it.
//
// Four bits a number first, as long as the picture has at most 16 colours
// (the rebuilt 8 levels have at most 8): those rows are often the PNG's own.
// At the row where a 17th colour appears, the rows before it are widened to a
// byte a number in place and the pass goes on in bytes. False once there are
// more colours than a palette holds.
template <int Bytes>
bool numberPixels(const PixelRows& rows, ColourSet& colours, std::uint8_t* numbers, bool& nibbles) {
    const std::int32_t w = rows.width;
    const std::int64_t half = (w + 1) / 2;
    nibbles = true;
    for (std::int32_t y = 0; y < rows.height; ++y) {
        const std::uint8_t* p = rows.pixels + static_cast<std::int64_t>(y) * rows.pitch;
        int seen = 0;  // the numbers or'ed: negative when one found no room
        // The colour before, and its number: runs of one colour are long in the
        // rebuilt pictures (38 pixels on average in a photograph's levels), so
        // the test is nearly always right and the lookup rare.
        std::uint32_t last = pixelKey<Bytes, false>(p);
        int lastNumber = colours.number(last);
        auto number = [&](std::uint32_t colour) {
            if (colour != last) {
                last = colour;
                lastNumber = colours.number(colour);
            }
            return lastNumber;
        };
        if (nibbles) {
            std::uint8_t* out = numbers + y * half;
            std::int32_t x = 0;
            for (; x + 2 < w; x += 2, p += 2 * Bytes) {
                const int a = number(pixelKey<Bytes, true>(p));
                const int b = number(pixelKey<Bytes, true>(p + Bytes));
                seen |= a | b;
                out[x >> 1] = static_cast<std::uint8_t>(a << 4 | (b & 15));
            }
            if (x + 1 < w) {
                const int a = number(pixelKey<Bytes, true>(p));
                const int b = number(pixelKey<Bytes, false>(p + Bytes));
                seen |= a | b;
                out[x >> 1] = static_cast<std::uint8_t>(a << 4 | (b & 15));
            } else {
                const int a = number(pixelKey<Bytes, false>(p));
                seen |= a;
                out[x >> 1] = static_cast<std::uint8_t>(a << 4);
            }
            if (seen < 0) return false;
            if (seen < 16) continue;
            // A 17th colour: this row again, in bytes, after the rows before it.
            widenNibbleRows(numbers, w, y);
            nibbles = false;
            p = rows.pixels + static_cast<std::int64_t>(y) * rows.pitch;
            seen = 0;
        }
        std::uint8_t* out = numbers + static_cast<std::int64_t>(y) * w;
        for (std::int32_t x = 0; x < w - 1; ++x, p += Bytes) {
            const int n = number(pixelKey<Bytes, true>(p));
            seen |= n;
            out[x] = static_cast<std::uint8_t>(n);
        }
        const int n = number(pixelKey<Bytes, false>(p));
        out[w - 1] = static_cast<std::uint8_t>(n);
        if ((seen | n) < 0) return false;
    }
    return true;
}

// The palette in the PNG's order: entries that are not opaque first (tRNS
// lists only as many as it needs), each group in order of first appearance;
// `final` maps each colour's number to its entry.
void makePalette(const ColourSet& colours, std::uint8_t* rgb, std::uint8_t* alpha, std::int32_t& alphaCount,
                 std::uint8_t* final) {
    int next = 0;
    alphaCount = 0;
    for (int pass = 0; pass < 2; ++pass) {
        for (int n = 0; n < colours.count(); ++n) {
            const std::uint32_t c = colours.colour(n);
            const std::uint8_t a = static_cast<std::uint8_t>(c >> 24);
            if ((a == 255) != (pass == 1)) continue;
            rgb[3 * next] = static_cast<std::uint8_t>(c >> 16);
            rgb[3 * next + 1] = static_cast<std::uint8_t>(c >> 8);
            rgb[3 * next + 2] = static_cast<std::uint8_t>(c);
            if (a != 255) alpha[alphaCount++] = a;
            final[n] = static_cast<std::uint8_t>(next++);
        }
    }
}

// Where the encoder's bytes go: a save of a file, or a growing memory block
// whose first 8 bytes will hold the size.
class Output {
public:
    explicit Output(const char16_t* fileName) : toFile_(fileName != nullptr) {
        if (toFile_) opened_ = filBeginReplace(save_, fileName);
        else opened_ = grow(kFirstBlock);
    }
    ~Output() { memFree(block_); }
    Output(const Output&) = delete;
    Output& operator=(const Output&) = delete;

    bool opened() const { return opened_; }

    static bool write(void* context, const void* bytes, std::size_t n) {
        auto& self = *static_cast<Output*>(context);
        if (self.toFile_) return filReplaceWrite(self.save_, bytes, static_cast<std::int64_t>(n));
        const auto need = static_cast<std::int64_t>(self.used_ + n);
        if (need > self.capacity_ && !self.grow(std::max(need, 2 * self.capacity_))) return false;
        std::memcpy(self.block_ + self.used_, bytes, n);
        self.used_ += n;
        return true;
    }

    std::int64_t finish(bool ok) {
        if (toFile_) return filFinishReplace(save_, ok) ? 1 : 0;
        if (!ok) return 0;
        const std::int64_t size = static_cast<std::int64_t>(used_) - 8;
        for (int i = 0; i < 8; ++i) block_[i] = static_cast<std::uint8_t>(size >> (8 * i));
        std::uint8_t* block = block_;
        block_ = nullptr;
        return reinterpret_cast<std::int64_t>(block);
    }

private:
    static constexpr std::int64_t kFirstBlock = 64 * 1024;

    bool grow(std::int64_t capacity) {
        auto* bigger = static_cast<std::uint8_t*>(memAllocEx(capacity, kMemNoZero));
        if (!bigger) return false;
        if (block_) std::memcpy(bigger, block_, used_);
        memFree(block_);
        block_ = bigger;
        capacity_ = capacity;
        if (used_ == 0) used_ = 8;  // room for the size
        return true;
    }

    bool toFile_;
    bool opened_ = false;
    FileReplace save_;
    std::uint8_t* block_ = nullptr;
    std::size_t used_ = 0;
    std::int64_t capacity_ = 0;
};

std::int64_t encode(const char16_t* fileName, const PixelRows& rows, const EncodeOptions& options, int bytes) {
    if (options.depth != kSourceDepth && options.depth != 24 && options.depth != 32) return 0;
    if (rows.width < 1 || rows.height < 1 || rows.pitch < static_cast<std::int64_t>(rows.width) * bytes) return 0;

    Source source{rows, bytes, nullptr, 0, false, false, {}, 8};
    plat::PngPicture picture{};
    picture.width = rows.width;
    picture.height = rows.height;
    picture.rowContext = &source;
    // The colour set is large for a stack frame; it lives on the heap, as do
    // the numbers, a byte a pixel.
    auto* colours = static_cast<ColourSet*>(memMainAlloc(sizeof(ColourSet), false));
    auto* numbers = static_cast<std::uint8_t*>(
        memAllocEx(static_cast<std::int64_t>(rows.width) * rows.height, kMemNoZero));
    if (!colours || !numbers) {
        memMainFree(colours);
        memFree(numbers);
        return 0;
    }
    new (colours) ColourSet();
    std::uint8_t palette[3 * kMaxPaletteSize];
    std::uint8_t alpha[kMaxPaletteSize];
    bool nibbles = false;
    if (bytes == 3 ? numberPixels<3>(rows, *colours, numbers, nibbles)
                   : numberPixels<4>(rows, *colours, numbers, nibbles)) {
        makePalette(*colours, palette, alpha, picture.alphaCount, source.final);
        const int n = colours->count();
        source.numbers = numbers;
        source.nibbles = nibbles;
        source.stride = nibbles ? (rows.width + 1) / 2 : rows.width;
        source.bitDepth = n <= 2 ? 1 : n <= 4 ? 2 : n <= 16 ? 4 : 8;
        source.asStored = nibbles && source.bitDepth == 4;
        for (int i = 0; i < n; ++i) source.asStored = source.asStored && source.final[i] == i;
        picture.colour = plat::PngColour::Indexed;
        picture.palette = palette;
        picture.paletteSize = n;
        picture.alpha = alpha;
        picture.level = kIndexedLevel;
        picture.filter = false;
        picture.row = indexedRow;
    } else {
        memFree(numbers);
        numbers = nullptr;
        picture.colour = bytes == 4 ? plat::PngColour::Rgba : plat::PngColour::Rgb;
        picture.level = kTrueColourLevel;
        picture.filter = true;
        picture.row = trueColourRow;
    }
    picture.bitDepth = source.bitDepth;
    memMainFree(colours);

    std::int64_t result = 0;
    {
        Output out(fileName);
        if (out.opened()) {
            const bool ok = plat::pngEncode(picture, {Output::write, &out});
            result = out.finish(ok);
        }
    }
    memFree(numbers);
    return result;
}

std::int64_t encode24(const char16_t* fileName, const PixelRows& rows, const EncodeOptions& options) {
    return encode(fileName, rows, options, 3);
}

std::int64_t encode32(const char16_t* fileName, const PixelRows& rows, const EncodeOptions& options) {
    return encode(fileName, rows, options, 4);
}

const ImageEncoder kPngEncoder{.id = kPngFormat, .encode24 = encode24, .encode32 = encode32, .choosesForm = true};

}  // namespace

bool imgRegisterPngEncoder() { return imgRegisterEncoder(&kPngEncoder); }

std::int64_t imgPngEncode(const char16_t* fileName, const PixelRows& rows, const EncodeOptions& options,
                          std::int32_t pixelDepth) {
    return pixelDepth == 24 || pixelDepth == 32 ? encode(fileName, rows, options, pixelDepth / 8) : 0;
}

}  // namespace oct
