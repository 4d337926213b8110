#include "platform/win32/picture_meta.h"

#include <propidl.h>

#include "platform/pictures.h"
#include "platform/win32/com_ref.h"

namespace oct::plat {
namespace {

// GIF disposal methods (graphic control extension, bits 2-4 of its flags):
// 0 unspecified and 1 leave the frame in place, 2 restores the background,
// 3 restores what was there before; 4-7 are undefined and treated as 0.
constexpr unsigned kGifRestoreBackground = 2;
constexpr unsigned kGifRestorePrevious = 3;
// GIF delays count hundredths of a second.
constexpr std::int32_t kGifDelayUnitMs = 10;

// One unsigned number from a query path, or `fallback` when the frame has
// none there (no such block) or it is not a number.
unsigned queryNumber(IWICMetadataQueryReader* query, const wchar_t* path, unsigned fallback) {
    if (!query) return fallback;
    PROPVARIANT value;
    PropVariantInit(&value);
    unsigned result = fallback;
    if (SUCCEEDED(query->GetMetadataByName(path, &value))) {
        switch (value.vt) {
            case VT_UI1: result = value.bVal; break;
            case VT_UI2: result = value.uiVal; break;
            case VT_UI4: result = value.ulVal; break;
            default: break;
        }
    }
    PropVariantClear(&value);
    return result;
}

}  // namespace

PictureFrame gifFrameMeta(IWICBitmapFrameDecode* frame) {
    UINT width = 0, height = 0;
    if (FAILED(frame->GetSize(&width, &height))) width = height = 0;
    ComRef<IWICMetadataQueryReader> query;
    if (FAILED(frame->GetMetadataQueryReader(query.put()))) query.reset();
    IWICMetadataQueryReader* q = query.get();
    PictureFrame meta{};
    meta.left = static_cast<std::int32_t>(queryNumber(q, L"/imgdesc/Left", 0));
    meta.top = static_cast<std::int32_t>(queryNumber(q, L"/imgdesc/Top", 0));
    meta.width = static_cast<std::int32_t>(queryNumber(q, L"/imgdesc/Width", width));
    meta.height = static_cast<std::int32_t>(queryNumber(q, L"/imgdesc/Height", height));
    meta.delayMs = static_cast<std::int32_t>(queryNumber(q, L"/grctlext/Delay", 0)) * kGifDelayUnitMs;
    const unsigned disposal = queryNumber(q, L"/grctlext/Disposal", 0);
    meta.disposal = disposal == kGifRestoreBackground ? FrameDisposal::Background
                    : disposal == kGifRestorePrevious ? FrameDisposal::Previous
                                                      : FrameDisposal::Keep;
    meta.blend = true;
    return meta;
}

}  // namespace oct::plat
