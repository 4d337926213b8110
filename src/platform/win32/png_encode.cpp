// PNG out through WIC's PNG encoder, into a stream in memory whose bytes
// then go to the sink. WIC takes blue-first pixels, so RGB and RGBA rows are
// turned around on their way in; palette indices go as they are.
#include <wincodec.h>

#include <algorithm>
#include <new>
#include <vector>

#include "platform/fail_inject.h"
#include "platform/png_encode.h"
#include "platform/win32/com_ref.h"

namespace oct::plat {
namespace {

// Rows handed to WritePixels at once: enough to keep calls few, little memory.
constexpr std::size_t kBandBytes = 1 << 20;

const GUID& pixelFormatOf(const PngPicture& p) {
    if (p.colour == PngColour::Rgb) return GUID_WICPixelFormat24bppBGR;
    if (p.colour == PngColour::Rgba) return GUID_WICPixelFormat32bppBGRA;
    switch (p.bitDepth) {
        case 1: return GUID_WICPixelFormat1bppIndexed;
        case 2: return GUID_WICPixelFormat2bppIndexed;
        case 4: return GUID_WICPixelFormat4bppIndexed;
        default: return GUID_WICPixelFormat8bppIndexed;
    }
}

bool setPalette(IWICImagingFactory* factory, IWICBitmapFrameEncode* frame, const PngPicture& p) {
    if (p.paletteSize < 1 || p.paletteSize > 256 || p.alphaCount < 0 || p.alphaCount > p.paletteSize) return false;
    WICColor colours[256];
    for (std::int32_t i = 0; i < p.paletteSize; ++i) {
        const std::uint32_t alpha = i < p.alphaCount ? p.alpha[i] : 255;
        colours[i] = alpha << 24 | static_cast<std::uint32_t>(p.palette[3 * i]) << 16 |
                     static_cast<std::uint32_t>(p.palette[3 * i + 1]) << 8 | p.palette[3 * i + 2];
    }
    ComRef<IWICPalette> palette;
    return SUCCEEDED(factory->CreatePalette(palette.put())) &&
           SUCCEEDED(palette->InitializeCustom(colours, static_cast<UINT>(p.paletteSize))) &&
           SUCCEEDED(frame->SetPalette(palette.get()));
}

// Asks the encoder for its per-row filters; an encoder without the option keeps its own.
void setFilter(IPropertyBag2* options, bool filter) {
    if (!options) return;
    PROPBAG2 name{};
    name.pstrName = const_cast<LPOLESTR>(L"FilterOption");
    VARIANT value;
    VariantInit(&value);
    value.vt = VT_UI1;
    value.bVal = static_cast<BYTE>(filter ? WICPngFilterAdaptive : WICPngFilterNone);
    options->Write(1, &name, &value);
}

bool writeRows(IWICBitmapFrameEncode* frame, const PngPicture& p) {
    const std::size_t row = pngRowBytes(p);
    const auto bandRows =
        static_cast<std::int32_t>(std::clamp<std::size_t>(kBandBytes / row, 1, static_cast<std::size_t>(p.height)));
    std::vector<std::uint8_t> band(row * static_cast<std::size_t>(bandRows));
    const std::size_t bytes = p.colour == PngColour::Rgb ? 3 : 4;
    for (std::int32_t y = 0; y < p.height; y += bandRows) {
        const std::int32_t n = std::min(bandRows, p.height - y);
        for (std::int32_t i = 0; i < n; ++i) {
            std::uint8_t* out = band.data() + row * static_cast<std::size_t>(i);
            p.row(p.rowContext, y + i, out);
            if (p.colour == PngColour::Indexed) continue;
            for (std::size_t x = 0; x < static_cast<std::size_t>(p.width); ++x, out += bytes) std::swap(out[0], out[2]);
        }
        if (failThisCall(FailKind::Codec) || FAILED(frame->WritePixels(static_cast<UINT>(n), static_cast<UINT>(row), static_cast<UINT>(row * n),
                                      band.data())))
            return false;
    }
    return true;
}

// The stream's bytes, from its start to its current end, into the sink.
bool drain(IStream* stream, const ByteSink& sink) {
    ULARGE_INTEGER end{};
    HGLOBAL memory = nullptr;
    if (FAILED(stream->Seek(LARGE_INTEGER{}, STREAM_SEEK_CUR, &end)) || FAILED(GetHGlobalFromStream(stream, &memory)))
        return false;
    const void* bytes = GlobalLock(memory);
    if (!bytes) return false;
    const bool ok = sink.write(sink.context, bytes, static_cast<std::size_t>(end.QuadPart));
    GlobalUnlock(memory);
    return ok;
}

bool encode(const PngPicture& p, const ByteSink& sink) {
    ComRef<IWICImagingFactory> factory;
    ComRef<IStream> stream;
    ComRef<IWICBitmapEncoder> encoder;
    ComRef<IWICBitmapFrameEncode> frame;
    ComRef<IPropertyBag2> options;
    if (failThisCall(FailKind::Codec) ||
        FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                                reinterpret_cast<void**>(factory.put()))) ||
        FAILED(CreateStreamOnHGlobal(nullptr, TRUE, stream.put())) ||
        FAILED(factory->CreateEncoder(GUID_ContainerFormatPng, nullptr, encoder.put())) ||
        FAILED(encoder->Initialize(stream.get(), WICBitmapEncoderNoCache)) ||
        FAILED(encoder->CreateNewFrame(frame.put(), options.put())))
        return false;
    setFilter(options.get(), p.filter);
    WICPixelFormatGUID format = pixelFormatOf(p);
    // The encoder may answer with a format of its own choice; only the asked one will do.
    if (FAILED(frame->Initialize(options.get())) ||
        FAILED(frame->SetSize(static_cast<UINT>(p.width), static_cast<UINT>(p.height))) ||
        FAILED(frame->SetPixelFormat(&format)) || !IsEqualGUID(format, pixelFormatOf(p)))
        return false;
    if (p.colour == PngColour::Indexed && !setPalette(factory.get(), frame.get(), p)) return false;
    return writeRows(frame.get(), p) && !failThisCall(FailKind::Codec) && SUCCEEDED(frame->Commit()) &&
           !failThisCall(FailKind::Codec) && SUCCEEDED(encoder->Commit()) && drain(stream.get(), sink);
}

}  // namespace

bool pngEncode(const PngPicture& picture, const ByteSink& sink) {
    if (picture.width < 1 || picture.height < 1 || !picture.row) return false;
    ComThread com;
    if (!com.usable()) return false;
    try {
        return encode(picture, sink);
    } catch (const std::bad_alloc&) {
        return false;
    }
}

}  // namespace oct::plat
