// Picture codecs on Windows: the Windows Imaging Component decodes, and the
// rows it gives are brought to the picture rules of platform/pictures.h here.
#include <windows.h>
#include <wincodec.h>

#include <algorithm>
#include <memory>
#include <new>
#include <vector>

#include "platform/fail_reason.h"
#include "platform/picture_failure.h"
#include "platform/picture_header.h"
#include "platform/picture_pixels.h"
#include "platform/fail_inject.h"
#include "platform/pictures.h"
#include "platform/win32/com_ref.h"
#include "platform/win32/picture_meta.h"
#include "platform/win32/picture_tiff_order.h"

namespace oct::plat {
namespace {

// Rows are fetched from the codec a band at a time: tiled TIFF decoders
// decode a whole tile for any row inside it, so single rows would decode
// each tile once per row.
constexpr std::size_t kBandBytes = std::size_t{4} << 20;

// Containers the system's headers may not name yet: the JPEG XL codec of
// recent Windows 11, and the AVIF one of the AV1 extension.
constexpr GUID kContainerFormatJpegXL = {0xfec14e3f, 0x427a, 0x4736, {0xaa, 0xe6, 0x27, 0xed, 0x84, 0xf6, 0x93, 0x22}};
constexpr GUID kContainerFormatAvif = {0xe1d60a82, 0x4d89, 0x4b65, {0xa1, 0xbd, 0x21, 0xfd, 0xd9, 0x50, 0x0d, 0x5a}};

const GUID& containerOf(PictureFormat format) {
    switch (format) {
        case PictureFormat::Png: return GUID_ContainerFormatPng;
        case PictureFormat::Jpeg: return GUID_ContainerFormatJpeg;
        case PictureFormat::Gif: return GUID_ContainerFormatGif;
        case PictureFormat::Tiff: return GUID_ContainerFormatTiff;
        case PictureFormat::WebP: return GUID_ContainerFormatWebp;
        case PictureFormat::Heif: return GUID_ContainerFormatHeif;
        case PictureFormat::Avif: return kContainerFormatAvif;
        case PictureFormat::Jxl: return kContainerFormatJpegXL;
    }
    return GUID_ContainerFormatWebp;
}

// Whether the decoder WIC chose by the bytes is the one for `format`: AVIF
// may come from its own codec or from the HEIF one, which takes AV1 images
// where the AV1 extension is installed.
bool containerIs(PictureFormat format, const GUID& container) {
    return IsEqualGUID(container, containerOf(format)) ||
           (format == PictureFormat::Avif && IsEqualGUID(container, GUID_ContainerFormatHeif));
}

// Native layouts whose rows are converted here rather than by WIC: its
// converters turn 16-bit samples into 8 bits through a gamma curve on some
// systems, and CMYK by a formula of their own.
struct NativeLayout {
    const GUID* format;
    PixelLayout layout;
};
const NativeLayout kNativeLayouts[] = {
    {.format = &GUID_WICPixelFormat32bppBGRA, .layout = PixelLayout::Bgra32},
    {.format = &GUID_WICPixelFormat16bppGray, .layout = PixelLayout::Gray16},
    {.format = &GUID_WICPixelFormat48bppRGB, .layout = PixelLayout::Rgb48},
    {.format = &GUID_WICPixelFormat48bppBGR, .layout = PixelLayout::Bgr48},
    {.format = &GUID_WICPixelFormat64bppRGBA, .layout = PixelLayout::Rgba64},
    {.format = &GUID_WICPixelFormat64bppBGRA, .layout = PixelLayout::Bgra64},
    {.format = &GUID_WICPixelFormat32bppCMYK, .layout = PixelLayout::Cmyk32},
    {.format = &GUID_WICPixelFormat64bppCMYK, .layout = PixelLayout::Cmyk64},
};

}  // namespace

struct PictureReader {
    ComThread com;  // first, so that it ends after every reference below is released
    PictureFormat format{};
    PictureInfo info{};
    bool bigEndian = false;  // a TIFF's samples are stored high byte first
    ComRef<IWICImagingFactory> factory;
    ComRef<IWICStream> stream;
    ComRef<IWICBitmapDecoder> decoder;
};

namespace {

// WIC's failures in words, for the reason of a refused picture; the codes
// it gives for damaged data, and the system's words for the rest.
bool wicFailed(PictureFormat format, HRESULT hr) {
    switch (hr) {
        case E_OUTOFMEMORY: return failSet(FailCode::NoMemory, "out of memory");
        case WINCODEC_ERR_COMPONENTNOTFOUND: return false;  // no codec: the image layer says so
        case WINCODEC_ERR_BADHEADER: return pictureDamaged(format, "bad header");
        case WINCODEC_ERR_BADIMAGE: return pictureDamaged(format, "bad image data");
        case WINCODEC_ERR_BADSTREAMDATA: return pictureDamaged(format, "bad stream data");
        case WINCODEC_ERR_FRAMEMISSING: return pictureDamaged(format, "a frame is missing");
        case WINCODEC_ERR_STREAMREAD:
        case WINCODEC_ERR_STREAMNOTAVAILABLE: return pictureDamaged(format, "cut short");
        case WINCODEC_ERR_UNSUPPORTEDPIXELFORMAT:
        case WINCODEC_ERR_UNSUPPORTEDOPERATION: return pictureDamaged(format, "a layout the codec does not read");
        default: return pictureDamaged(format, nullptr);
    }
}

bool openDecoder(PictureReader& reader, const std::uint8_t* data, std::size_t size) {
    if (!reader.com.usable() || failThisCall(FailKind::Codec)) return false;
    if (FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                                reinterpret_cast<void**>(reader.factory.put()))))
        return false;
    // The stream reads the caller's bytes where they lie; WIC never writes to them.
    if (FAILED(reader.factory->CreateStream(reader.stream.put())) ||
        FAILED(reader.stream->InitializeFromMemory(const_cast<BYTE*>(data), static_cast<DWORD>(size))))
        return false;
    if (failThisCall(FailKind::Codec)) return false;
    if (const HRESULT hr = reader.factory->CreateDecoderFromStream(reader.stream.get(), nullptr,
                                                                   WICDecodeMetadataCacheOnDemand, reader.decoder.put());
        FAILED(hr))
        return wicFailed(reader.format, hr);
    // The codec is chosen by the bytes; it must be the one whose headers were checked.
    GUID container;
    return SUCCEEDED(reader.decoder->GetContainerFormat(&container)) && containerIs(reader.format, container);
}

// Frame `index` as the codec gives it, with its size.
bool codecFrame(const PictureReader& reader, std::int32_t index, ComRef<IWICBitmapFrameDecode>& frame, UINT& width,
                UINT& height) {
    return SUCCEEDED(reader.decoder->GetFrame(static_cast<UINT>(index), frame.put())) &&
           SUCCEEDED(frame->GetSize(&width, &height));
}

// The frame's rectangle on the screen: its stored place, cut to the screen
// and to the pixels the codec holds for it.
PictureFrame frameOnScreen(const PictureReader& reader, IWICBitmapFrameDecode* frame, UINT width, UINT height) {
    const std::int32_t screenWidth = reader.info.width, screenHeight = reader.info.height;
    if (reader.format != PictureFormat::Gif)
        return {.left = 0, .top = 0, .width = std::min<std::int32_t>(screenWidth, static_cast<std::int32_t>(width)),
                .height = std::min<std::int32_t>(screenHeight, static_cast<std::int32_t>(height)), .delayMs = 0,
                .disposal = FrameDisposal::Keep, .blend = false};
    PictureFrame f = gifFrameMeta(frame);
    f.left = std::clamp(f.left, 0, screenWidth);
    f.top = std::clamp(f.top, 0, screenHeight);
    f.width = std::clamp(std::min<std::int32_t>(f.width, static_cast<std::int32_t>(std::min<UINT>(width, INT32_MAX))),
                         0, screenWidth - f.left);
    f.height = std::clamp(
        std::min<std::int32_t>(f.height, static_cast<std::int32_t>(std::min<UINT>(height, INT32_MAX))), 0,
        screenHeight - f.top);
    return f;
}

// What the frame's own pixel format says of its alpha and its bits, for the
// formats whose headers the gate reads only the sides of.
void pixelFormatFacts(IWICImagingFactory* factory, IWICBitmapFrameDecode* frame, PictureHeader& header) {
    WICPixelFormatGUID format;
    ComRef<IWICComponentInfo> component;
    ComRef<IWICPixelFormatInfo2> info;
    if (FAILED(frame->GetPixelFormat(&format)) || FAILED(factory->CreateComponentInfo(format, component.put())) ||
        FAILED(component->QueryInterface(IID_IWICPixelFormatInfo2, reinterpret_cast<void**>(info.put()))))
        return;
    BOOL transparent = FALSE;
    UINT bits = 0;
    if (SUCCEEDED(info->SupportsTransparency(&transparent))) header.alpha = transparent != FALSE;
    if (SUCCEEDED(info->GetBitsPerPixel(&bits)) && bits <= 255) header.sourceDepth = static_cast<std::int32_t>(bits);
}

bool describe(PictureReader& reader, const PictureHeader& header, const PictureLimits& limits) {
    UINT frames = 0;
    if (FAILED(reader.decoder->GetFrameCount(&frames)) || frames == 0) return false;
    ComRef<IWICBitmapFrameDecode> first;
    UINT width, height;
    if (!codecFrame(reader, 0, first, width, height)) return false;
    PictureHeader decoded = header;
    if (reader.format == PictureFormat::Heif || reader.format == PictureFormat::Avif ||
        reader.format == PictureFormat::Jxl)
        pixelFormatFacts(reader.factory.get(), first.get(), decoded);
    // GIF and animated WebP: the screen the headers declare. Otherwise the
    // codec's size, checked again in case it differs from the declared one.
    if (reader.format != PictureFormat::Gif && header.frameCount == 1) {
        decoded.width = static_cast<std::int32_t>(std::min<UINT>(width, INT32_MAX));
        decoded.height = static_cast<std::int32_t>(std::min<UINT>(height, INT32_MAX));
    }
    // A TIFF's further pages and a PNG's animation are not shown.
    decoded.frameCount = reader.format == PictureFormat::Tiff || reader.format == PictureFormat::Png ||
                                 reader.format == PictureFormat::Jpeg
                             ? 1
                             : static_cast<std::int32_t>(std::min<UINT>(frames, INT32_MAX));
    if (!pictureHeaderWithin(decoded, limits)) return false;
    reader.info = {.width = decoded.width, .height = decoded.height, .sourceDepth = decoded.sourceDepth,
                   .alpha = decoded.alpha, .frameCount = decoded.frameCount, .clearColour = header.clearColour};
    return true;
}

// Where the codec's rows come from for a frame: the frame itself when its
// layout is one converted here, else WIC's converter to straight BGRA.
bool rowSource(const PictureReader& reader, IWICBitmapFrameDecode* frame, ComRef<IWICBitmapSource>& source,
               PixelLayout& layout) {
    WICPixelFormatGUID native;
    if (FAILED(frame->GetPixelFormat(&native))) return false;
    for (const NativeLayout& entry : kNativeLayouts) {
        if (IsEqualGUID(native, *entry.format)) {
            layout = entry.layout;
            return SUCCEEDED(frame->QueryInterface(IID_IWICBitmapSource, reinterpret_cast<void**>(source.put())));
        }
    }
    ComRef<IWICFormatConverter> converter;
    layout = PixelLayout::Bgra32;
    return SUCCEEDED(reader.factory->CreateFormatConverter(converter.put())) &&
           SUCCEEDED(converter->Initialize(frame, GUID_WICPixelFormat32bppBGRA, WICBitmapDitherTypeNone, nullptr, 0.0,
                                           WICBitmapPaletteTypeCustom)) &&
           SUCCEEDED(converter->QueryInterface(IID_IWICBitmapSource, reinterpret_cast<void**>(source.put())));
}

// Whether the codec's own rows are laid as the bitmap's: blue, green, red
// into 3-byte pixels, or with alpha into 4-byte ones (a JPEG's or an RGB
// PNG's rows, a PNG's with alpha).
bool storedAsTheBitmap(IWICBitmapFrameDecode* frame, std::int32_t bytesPerPixel) {
    WICPixelFormatGUID native;
    if (FAILED(frame->GetPixelFormat(&native))) return false;
    return bytesPerPixel == 3 ? IsEqualGUID(native, GUID_WICPixelFormat24bppBGR)
                              : IsEqualGUID(native, GUID_WICPixelFormat32bppBGRA);
}

// Rows straight from the codec into the bitmap, with no buffer between: all
// at once into top-down rows, a row a call into bottom-up ones (CopyPixels
// takes no negative stride).
bool decodeStraight(IWICBitmapFrameDecode* frame, const PictureFrame& place, std::uint8_t* rows, std::int32_t pitch,
                    std::int32_t bytesPerPixel, bool bottomUp) {
    const UINT rowBytes = static_cast<UINT>(place.width) * static_cast<UINT>(bytesPerPixel);
    const std::int32_t step = bottomUp ? 1 : place.height;
    for (std::int32_t y = 0; y < place.height; y += step) {
        const WICRect rect{0, y, place.width, step};
        std::uint8_t* first = rows + static_cast<std::ptrdiff_t>(bottomUp ? place.height - 1 - y : y) * pitch;
        const UINT bytes = static_cast<UINT>(pitch) * static_cast<UINT>(step - 1) + rowBytes;
        if (failThisCall(FailKind::Codec) || FAILED(frame->CopyPixels(&rect, static_cast<UINT>(pitch), bytes, first)))
            return false;
    }
    return true;
}

bool decodeRows(const PictureReader& reader, std::int32_t index, std::uint8_t* rows, std::int32_t pitch,
                std::int32_t bytesPerPixel, bool bottomUp) {
    ComRef<IWICBitmapFrameDecode> frame;
    UINT width, height;
    if (!codecFrame(reader, index, frame, width, height)) return false;
    const PictureFrame place = frameOnScreen(reader, frame.get(), width, height);
    if (pitch < static_cast<std::int64_t>(place.width) * bytesPerPixel) return false;
    if (place.width == 0 || place.height == 0) return true;
    if (storedAsTheBitmap(frame.get(), bytesPerPixel))
        return decodeStraight(frame.get(), place, rows, pitch, bytesPerPixel, bottomUp);
    ComRef<IWICBitmapSource> source;
    PixelLayout layout;
    if (!rowSource(reader, frame.get(), source, layout)) return false;

    const std::size_t count = static_cast<std::size_t>(place.width);
    const std::size_t rowBytes = count * pixelLayoutBytes(layout);
    const std::int32_t bandRows =
        static_cast<std::int32_t>(std::clamp<std::size_t>(kBandBytes / rowBytes, 1, static_cast<std::size_t>(place.height)));
    std::vector<std::uint8_t> band(rowBytes * static_cast<std::size_t>(bandRows));
    std::vector<std::uint8_t> bgra(layout == PixelLayout::Bgra32 ? 0 : count * 4);
    const bool clearTransparent = false;  // a GIF's transparent pixels keep their palette colour
    const bool swap = reader.bigEndian && pixelLayoutWide(layout) && tiffWideSamplesInFileOrder(reader.factory.get());
    for (std::int32_t y = 0; y < place.height; y += bandRows) {
        const std::int32_t n = std::min(bandRows, place.height - y);
        const WICRect rect{0, y, place.width, n};
        if (failThisCall(FailKind::Codec)) return false;
        if (const HRESULT hr = source->CopyPixels(&rect, static_cast<UINT>(rowBytes), static_cast<UINT>(rowBytes * n),
                                                  band.data());
            FAILED(hr))
            return wicFailed(reader.format, hr);
        if (swap) pixelsSwap16(band.data(), rowBytes * static_cast<std::size_t>(n));
        for (std::int32_t i = 0; i < n; ++i) {
            const std::uint8_t* in = band.data() + rowBytes * static_cast<std::size_t>(i);
            if (layout != PixelLayout::Bgra32) {
                pixelsToBgra(layout, in, bgra.data(), count);
                in = bgra.data();
            }
            const std::int32_t row = bottomUp ? place.height - 1 - (y + i) : y + i;
            if (!pixelsStore(in, rows + static_cast<std::ptrdiff_t>(row) * pitch, count, bytesPerPixel,
                             clearTransparent))
                return false;
        }
    }
    return true;
}

}  // namespace

PictureReader* pictureOpen(PictureFormat format, const std::uint8_t* data, std::size_t size,
                           const PictureLimits& limits, PictureInfo& info) {
    PictureHeader header;
    if (!data || size == 0 || size > MAXDWORD || !pictureHeaderAdmits(format, data, size, limits, header))
        return nullptr;
    std::unique_ptr<PictureReader> reader(new (std::nothrow) PictureReader);
    if (!reader) return nullptr;
    reader->format = format;
    reader->bigEndian = format == PictureFormat::Tiff && header.bigEndian;
    if (!openDecoder(*reader, data, size) || !describe(*reader, header, limits)) return nullptr;
    info = reader->info;
    return reader.release();
}

bool pictureFrameInfo(PictureReader* reader, std::int32_t index, PictureFrame& frame) {
    if (!reader || index < 0 || index >= reader->info.frameCount) return false;
    ComRef<IWICBitmapFrameDecode> codec;
    UINT width, height;
    if (!codecFrame(*reader, index, codec, width, height)) return false;
    frame = frameOnScreen(*reader, codec.get(), width, height);
    return true;
}

bool pictureDecode(PictureReader* reader, std::int32_t index, std::uint8_t* rows, std::int32_t pitch,
                   std::int32_t bytesPerPixel, bool bottomUp) {
    // A pitch of 0 serves a frame that lay wholly off the screen: it has no rows.
    if (!reader || !rows || index < 0 || index >= reader->info.frameCount || pitch < 0 ||
        (bytesPerPixel != 3 && bytesPerPixel != 4))
        return false;
    try {
        return decodeRows(*reader, index, rows, pitch, bytesPerPixel, bottomUp);
    } catch (const std::bad_alloc&) {
        return false;
    }
}

void pictureClose(PictureReader* reader) { delete reader; }

bool pictureHasCodec(PictureFormat format) {
    // WIC has a codec for a container when it can make a decoder for it:
    // HEIF, AVIF and JPEG XL where the system's extensions add one (wine has
    // none of the three).
    ComThread com;
    if (!com.usable()) return false;
    ComRef<IWICImagingFactory> factory;
    if (FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                                reinterpret_cast<void**>(factory.put()))))
        return false;
    ComRef<IWICBitmapDecoder> decoder;
    if (SUCCEEDED(factory->CreateDecoder(containerOf(format), nullptr, decoder.put()))) return true;
    return format == PictureFormat::Avif &&
           SUCCEEDED(factory->CreateDecoder(GUID_ContainerFormatHeif, nullptr, decoder.put()));
}

}  // namespace oct::plat
