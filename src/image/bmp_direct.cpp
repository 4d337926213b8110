#include "image/bmp_direct.h"

#include "image/bmp_reader.h"
#include "image/image.h"
#include "image/limits.h"
#include "platform/bitmaps.h"
#include "platform/files.h"
#include "platform/handles.h"

namespace oct {
namespace {

// Bytes read from the front of a file to recognise a plain BMP: its headers
// are at most 14 + 124 bytes (more for odd headers, which then are simply
// not plain).
constexpr std::uint32_t kProbeBytes = 256;

}  // namespace

bool imgBmpReadFile(plat::File* file, std::int64_t size, DirectPicture& out) {
    std::uint8_t probe[kProbeBytes];
    const auto probed = static_cast<std::uint32_t>(size < kProbeBytes ? size : kProbeBytes);
    if (plat::fileReadAll(file, probe, probed) != probed) return false;
    // "BM" files are never icons, and this decoder is the first registered.
    BmpDescription d;
    if (!imgBmpDescribe({probe, probed}, d) || d.refusal || d.bitCount != 24 || d.compression != 0 || d.height <= 0)
        return false;
    const std::int64_t rowBytes = imgRowBytes(d.width, 24);
    std::int64_t pixelBytes = 0;
    if (!checkedMul<std::int64_t>(rowBytes, d.height, pixelBytes) || pixelBytes > kMaxDibSectionBytes ||
        d.pixelOffset > size || pixelBytes > size - d.pixelOffset)
        return false;

    const plat::Handle bitmap = imgCreateDIBSection(d.width, d.height, 24);
    plat::BitmapDesc bm{};
    const bool read = bitmap && plat::bitmapIsDibSection(bitmap) && plat::bitmapDescribe(bitmap, bm) && bm.bits &&
                      bm.width == d.width && bm.height == d.height && bm.bitsPerPixel == 24 &&
                      bm.widthBytes == rowBytes &&
                      plat::fileSeek(file, d.pixelOffset, plat::SeekFrom::Begin) == d.pixelOffset &&
                      plat::fileReadAll(file, bm.bits, pixelBytes) == pixelBytes;
    if (!read) {
        if (bitmap) plat::objectDelete(bitmap);
        return false;
    }
    // The decoder copies each row's pixels and leaves the padding zero.
    imgZeroRowPadding(bm.bits, d.width, d.height, rowBytes, 3);
    out = {bitmap, d.width, d.height, 24, 24};
    return true;
}

}  // namespace oct
