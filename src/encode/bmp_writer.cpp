#include "encode/bmp_writer.h"

#include <cstring>

#include "encode/encoder.h"
#include "encode/palette.h"
#include "runtime/file_replace.h"
#include "runtime/heap.h"

namespace oct {
namespace {

// BMP file header and info header, 54 bytes, little-endian (docs/formats/bmp.md#headers-written)
//  off size
//   0   2   "BM"
//   2   4   file size = bits offset + row length × height
//   6   4   reserved, 0
//  10   4   bits offset: 54 + 4 × 2^depth for 1, 4 and 8 bits (62, 118, 1078); 54 for 24 and 32
//  14   4   info header size, 40
//  18   4   width
//  22   4   height, positive: rows stored bottom row first
//  26   2   planes, 1
//  28   2   bits per pixel
//  30   4   compression, 0
//  34   4   image size = row length × height
//  38  16   resolutions, colours used, colours important: 0
constexpr std::size_t kHeadersSize = 54;

// Palette of 1-, 4- and 8-bit files, at offset 54: 2^depth entries of blue,
// green, red and a 0 byte (docs/formats/bmp.md#palette-written).
constexpr std::size_t kPaletteEntrySize = 4;

void put16(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}
void put32(std::uint8_t* p, std::uint32_t v) {
    put16(p, v);
    put16(p + 2, v >> 16);
}

// Where the bytes go: a file being saved, or a memory block being filled.
class Target {
public:
    // A save of `fileName`, or a block of `size` bytes.
    Target(const char16_t* fileName, std::int64_t size) {
        if (fileName) {
            opened_ = filBeginReplace(save_, fileName);
            if (opened_) filReplaceReserve(save_, size);
        } else {
            block_ = static_cast<std::uint8_t*>(memAllocEx(size, kMemNoZero));
            size_ = size;
            opened_ = block_ != nullptr;
        }
    }

    bool opened() const { return opened_; }

    // Writes all `n` bytes or fails.
    bool put(const void* bytes, std::int64_t n) {
        if (!block_) return filReplaceWrite(save_, bytes, n);
        if (offset_ + n > size_) return false;
        std::memcpy(block_ + offset_, bytes, static_cast<std::size_t>(n));
        offset_ += n;
        return true;
    }

    // Closes the target: the result for a file (1 or 0), the block's address
    // for memory (or 0, freeing the block).
    std::int64_t finish(bool ok) {
        if (!block_) return filFinishReplace(save_, ok) ? 1 : 0;
        if (!ok || offset_ != size_) {
            memFree(block_);
            return 0;
        }
        return reinterpret_cast<std::int64_t>(block_);
    }

private:
    FileReplace save_;
    bool opened_ = false;
    std::uint8_t* block_ = nullptr;
    std::int64_t size_ = 0, offset_ = 0;
};

// Rows converted one at a time: from 32 bits the colours are composited over
// white; to 32 bits each pixel gets a 0 fourth byte. Padding bytes stay 0.
bool writeConvertedRows(Target& out, const std::uint8_t* pixels, std::int32_t width, std::int32_t height,
                        std::int32_t pitch, bool bottomUp, std::int32_t depth, std::int32_t pixelDepth,
                        std::int64_t rowLength) {
    auto* row = static_cast<std::uint8_t*>(memMainAlloc(rowLength));
    if (!row && rowLength > 0) return false;
    const int inBytes = pixelDepth / 8, outBytes = depth / 8;
    bool ok = true;
    for (std::int32_t i = 0; i < height && ok; ++i) {
        const std::int64_t memoryRow = bottomUp ? i : height - 1 - i;
        const std::uint8_t* s = pixels + memoryRow * pitch;
        std::uint8_t* d = row;
        for (std::int32_t x = 0; x < width; ++x, s += inBytes, d += outBytes) {
            if (pixelDepth == 32) {
                d[0] = imgOverWhite(s[0], s[3]);
                d[1] = imgOverWhite(s[1], s[3]);
                d[2] = imgOverWhite(s[2], s[3]);
            } else {
                d[0] = s[0], d[1] = s[1], d[2] = s[2];
            }
            if (outBytes == 4) d[3] = 0;
        }
        ok = out.put(row, rowLength);
    }
    memMainFree(row);
    return ok;
}

// Bytes of one stored row: the pixels, padded to a multiple of 4. A palette
// row is never empty: width 0 still stores 4 bytes of padding.
std::int64_t rowLengthOf(std::int64_t width, std::int32_t depth) {
    if (depth > 8) return (width * (depth / 8) + 3) & ~std::int64_t{3};
    const std::int64_t length = (palPackedBytes(width, depth) + 3) & ~std::int64_t{3};
    return length == 0 ? 4 : length;
}

// The palette, in one write, then the index rows bottom row first. The
// reducer's rows are in memory order, so a top-down source is asked for its
// last row first. Each index row carries zeros past its indices, which
// become the row's padding.
bool writePaletteFile(Target& out, PaletteReducer& reducer, bool bottomUp, std::int64_t rowLength) {
    const std::int32_t entries = 1 << reducer.depth;
    std::uint8_t palette[256 * kPaletteEntrySize] = {};
    for (std::int32_t k = 0; k < entries; ++k) {
        std::uint8_t* e = palette + k * kPaletteEntrySize;
        e[0] = reducer.palette[k][kBlue];
        e[1] = reducer.palette[k][kGreen];
        e[2] = reducer.palette[k][kRed];
    }
    bool ok = out.put(palette, entries * static_cast<std::int64_t>(kPaletteEntrySize));
    const std::int32_t height = reducer.height;
    for (std::int32_t i = 0; i < height && ok; ++i)
        ok = out.put(palIndexRow(reducer, bottomUp ? i : height - 1 - i), rowLength);
    return ok;
}

std::int64_t encode24(const char16_t* fileName, const PixelRows& rows, const EncodeOptions& options) {
    return imgBmpEncode(fileName, rows, options, 24);
}

std::int64_t encode32(const char16_t* fileName, const PixelRows& rows, const EncodeOptions& options) {
    return imgBmpEncode(fileName, rows, options, 32);
}

const ImageEncoder kBmpEncoder{kBmpFormat, encode24, encode32};

}  // namespace

bool imgRegisterBmpEncoder() { return imgRegisterEncoder(&kBmpEncoder); }

std::int64_t imgBmpEncode(const char16_t* fileName, const PixelRows& rows, const EncodeOptions& options,
                          std::int32_t pixelDepth) {
    const std::uint8_t* pixels = rows.pixels;
    const std::int32_t width = rows.width, height = rows.height, pitch = rows.pitch;
    const std::int32_t depth = options.depth;
    if (depth != 1 && depth != 4 && depth != 8 && depth != 24 && depth != 32) return 0;
    if ((pixelDepth != 24 && pixelDepth != 32) || width < 0 || height < 0 || !pixels) return 0;
    const bool paletted = depth <= 8;
    // Sizes in 64 bits: every size field of the headers is 32-bit, and a
    // file that would not fit them is refused rather than wrapped.
    const std::int64_t rowLength = rowLengthOf(width, depth);
    const std::int64_t imageSize = rowLength * height;
    const std::int64_t bitsOffset =
        static_cast<std::int64_t>(kHeadersSize) + (paletted ? kPaletteEntrySize << depth : 0);
    const std::int64_t fileSize = bitsOffset + imageSize;
    if (fileSize > INT32_MAX) return 0;
    // Rows must lie inside the caller's memory: a pitch shorter than a row of pixels is refused.
    if (height > 0 && width > 0 && (pitch < 0 ? -static_cast<std::int64_t>(pitch) : pitch) <
                                       static_cast<std::int64_t>(width) * (pixelDepth / 8))
        return 0;

    std::uint8_t headers[kHeadersSize] = {};
    headers[0] = 'B', headers[1] = 'M';
    put32(headers + 2, static_cast<std::uint32_t>(fileSize));
    put32(headers + 10, static_cast<std::uint32_t>(bitsOffset));
    put32(headers + 14, 40);
    put32(headers + 18, static_cast<std::uint32_t>(width));
    put32(headers + 22, static_cast<std::uint32_t>(height));
    put16(headers + 26, 1);
    put16(headers + 28, static_cast<std::uint32_t>(depth));
    put32(headers + 34, static_cast<std::uint32_t>(imageSize));

    // The palette is trained before anything is written, so that a reducer
    // that cannot be made leaves no file behind.
    PaletteReducer* reducer = nullptr;
    if (paletted) {
        reducer = palCreate(pixels, width, height, pixelDepth, pitch, depth, options.flags);
        if (!reducer) return 0;
    }
    Target out(fileName, fileSize);
    if (!out.opened()) {
        palFree(reducer);
        return 0;
    }
    bool ok = out.put(headers, kHeadersSize);
    const bool bottomUp = (rows.mode & kEncodeBottomUp) != 0;
    if (ok) {
        if (reducer)
            ok = writePaletteFile(out, *reducer, bottomUp, rowLength);
        else if (pixelDepth == depth && bottomUp && pitch == rowLength)
            ok = out.put(pixels, imageSize);  // the rows already have the file's layout
        else
            ok = writeConvertedRows(out, pixels, width, height, pitch, bottomUp, depth, pixelDepth, rowLength);
    }
    palFree(reducer);
    return out.finish(ok);
}

}  // namespace oct
