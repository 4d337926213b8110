// The pixel rows of a 24- or 32-bit BMP file exactly as the file stores
// them (docs/formats/bmp.md#stored-rows), for callers that work on a file's
// own bytes rather than on what the BMP decoder makes of it: the decoder
// always gives 24 bits and drops the fourth byte of a 32-bit pixel, where
// these keep it whatever the header says of it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace oct {

// Why the stored rows of a file are not taken.
enum class StoredBmpRefusal : std::uint8_t {
    kNone,
    kNotBmp,      // no "BM", data ending before the compression field, or an information header under 40 bytes
    kBitCount,    // a bit count other than 24 and 32
    kLayout,      // compressed, or bit fields other than red 0xFF0000, green 0xFF00, blue 0xFF on 32 bits
    kNoPixels,    // a width of 0 or less, a height of 0 or -2^31
    kTooLarge,    // rows of kMaxDibSectionBytes or more
    kRowsCutShort // the data ends before the last stored row does
};

// Where a file's rows lie and how they are laid out.
struct StoredBmp {
    StoredBmpRefusal refusal = StoredBmpRefusal::kNotBmp;
    std::int32_t width = 0;
    std::int32_t height = 0;        // row count, positive
    std::int32_t bitsPerPixel = 0;  // 24 or 32; with kBitCount the file's bit count
    std::int64_t rowBytes = 0;      // one stored row, padded to a multiple of 4 bytes
    bool topDown = false;           // the file stores its top row first
    std::span<const std::uint8_t> rows;  // every stored row, in the file's order, inside the file's bytes
};

// Reads the headers of `file` (through imgBmpDescribe) into `out` and finds
// its rows: uncompressed 24- or 32-bit files, and 32-bit files with the bit
// fields red 0xFF0000, green 0xFF00, blue 0xFF. True when the rows are
// there; false with out.refusal set otherwise. `out.rows` points into `file`.
// Unlike the decoder, nonzero reserved words in the file header are taken.
[[nodiscard]] bool imgFindStoredBmpRows(std::span<const std::uint8_t> file, StoredBmp& out);

// Room for any reason imgStoredBmpReason writes, terminator included.
constexpr std::size_t kStoredBmpReasonSize = 96;

// A one-line reason for `bmp.refusal`, lower case and without a full stop,
// for a tool to print after a file's name: "not a BMP file", "a BMP file of
// 8 bits per pixel; only 24 and 32 are read", ... Empty for kNone.
void imgStoredBmpReason(const StoredBmp& bmp, char (&text)[kStoredBmpReasonSize]);

// Copies the found rows into `bits` bottom row first, whatever the file's
// order, `pitch` bytes apart (pitch at least bmp.rowBytes): each row's bytes
// as stored, its padding included.
void imgCopyStoredBmpRows(const StoredBmp& bmp, std::uint8_t* bits, std::int64_t pitch);

// Loads the stored rows of the BMP file in `size` bytes at `data` as an
// image: a bottom-up DIB section of `out.bitsPerPixel` bits holding them
// (imgCopyStoredBmpRows), its source depth the file's bit count. Returns
// for AnyId the new image's id, for a number its handle (as imgCreateImage
// does), and 0 on failure: out.refusal names a refused file, which leaves
// the id untouched; with kNone there was no memory for the image, and a
// number ends up empty.
std::int64_t imgLoadStoredBmp(std::int64_t id, const void* data, std::int64_t size, StoredBmp& out);

}  // namespace oct
