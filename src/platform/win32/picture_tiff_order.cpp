#include "platform/win32/picture_tiff_order.h"

#include <cstdint>

#include "platform/win32/com_ref.h"

namespace oct::plat {
namespace {

// A big-endian TIFF of one 16-bit gray pixel, 0x1234: the header, one
// directory of 9 entries (tag, type 3 SHORT or 4 LONG, count 1, value) and
// the pixel's two bytes at offset 122.
constexpr std::uint8_t kProbe[] = {
    'M', 'M', 0, 42, 0, 0, 0, 8,  // byte order, 42, first directory at 8
    0, 9,                         // entries
    1, 0, 0, 3, 0, 0, 0, 1, 0, 1, 0, 0,      // 256 width 1
    1, 1, 0, 3, 0, 0, 0, 1, 0, 1, 0, 0,      // 257 height 1
    1, 2, 0, 3, 0, 0, 0, 1, 0, 16, 0, 0,     // 258 bits per sample 16
    1, 3, 0, 3, 0, 0, 0, 1, 0, 1, 0, 0,      // 259 no compression
    1, 6, 0, 3, 0, 0, 0, 1, 0, 1, 0, 0,      // 262 black is zero
    1, 17, 0, 4, 0, 0, 0, 1, 0, 0, 0, 122,   // 273 strip offset
    1, 21, 0, 3, 0, 0, 0, 1, 0, 1, 0, 0,     // 277 samples per pixel 1
    1, 22, 0, 3, 0, 0, 0, 1, 0, 1, 0, 0,     // 278 rows per strip 1
    1, 23, 0, 4, 0, 0, 0, 1, 0, 0, 0, 2,     // 279 strip bytes 2
    0, 0, 0, 0,                              // no further directory
    0x12, 0x34,                              // the pixel
};
static_assert(sizeof kProbe == 124);

bool probe(IWICImagingFactory* factory) {
    ComRef<IWICStream> stream;
    ComRef<IWICBitmapDecoder> decoder;
    ComRef<IWICBitmapFrameDecode> frame;
    std::uint8_t pixel[2] = {};
    if (FAILED(factory->CreateStream(stream.put())) ||
        FAILED(stream->InitializeFromMemory(const_cast<BYTE*>(kProbe), sizeof kProbe)) ||
        FAILED(factory->CreateDecoderFromStream(stream.get(), nullptr, WICDecodeMetadataCacheOnDemand,
                                                decoder.put())) ||
        FAILED(decoder->GetFrame(0, frame.put())) || FAILED(frame->CopyPixels(nullptr, 2, 2, pixel)))
        return false;
    return pixel[0] == 0x12 && pixel[1] == 0x34;
}

}  // namespace

bool tiffWideSamplesInFileOrder(IWICImagingFactory* factory) {
    static const bool inFileOrder = probe(factory);
    return inFileOrder;
}

}  // namespace oct::plat
