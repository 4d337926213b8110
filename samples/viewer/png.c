/* The library writes level files and BMPs only; a host that wants a PNG of
 * the level picture encodes the rebuilt bitmap itself, here with WIC. */
#include "viewer.h"

typedef struct PngJob {
    IWICImagingFactory* factory;
    DIBSECTION section;
} PngJob;

static int writePng(const wchar_t* tempName, void* context) {
    const PngJob* job = context;
    const BITMAP* bm = &job->section.dsBm;
    const int alpha = bm->bmBitsPixel == 32;
    const WICPixelFormatGUID wanted = alpha ? GUID_WICPixelFormat32bppBGRA : GUID_WICPixelFormat24bppBGR;
    WICPixelFormatGUID format = wanted;
    IWICStream* stream = NULL;
    IWICBitmapEncoder* encoder = NULL;
    IWICBitmapFrameEncode* frame = NULL;
    IPropertyBag2* options = NULL;
    /* The encoder may answer SetPixelFormat with a format of its choice;
     * rows in any other layout than the section's would be written wrong. */
    int ok = SUCCEEDED(IWICImagingFactory_CreateStream(job->factory, &stream)) &&
             SUCCEEDED(IWICStream_InitializeFromFilename(stream, tempName, GENERIC_WRITE)) &&
             SUCCEEDED(IWICImagingFactory_CreateEncoder(job->factory, &GUID_ContainerFormatPng, NULL, &encoder)) &&
             SUCCEEDED(IWICBitmapEncoder_Initialize(encoder, (IStream*)stream, WICBitmapEncoderNoCache)) &&
             SUCCEEDED(IWICBitmapEncoder_CreateNewFrame(encoder, &frame, &options)) &&
             SUCCEEDED(IWICBitmapFrameEncode_Initialize(frame, options)) &&
             SUCCEEDED(IWICBitmapFrameEncode_SetSize(frame, (UINT)bm->bmWidth, (UINT)bm->bmHeight)) &&
             SUCCEEDED(IWICBitmapFrameEncode_SetPixelFormat(frame, &format)) && IsEqualGUID(&format, &wanted);

    /* A PNG stores its rows top-down; a bottom-up section's top row is its last. */
    const BOOL bottomUp = job->section.dsBmih.biHeight > 0;
    const UINT stride = (UINT)bm->bmWidthBytes;
    for (LONG i = 0; ok && i < bm->bmHeight; ++i) {
        const LONG row = bottomUp ? bm->bmHeight - 1 - i : i;
        ok = SUCCEEDED(IWICBitmapFrameEncode_WritePixels(frame, 1, stride, stride, (BYTE*)bm->bmBits + (size_t)row * stride));
    }
    ok = ok && SUCCEEDED(IWICBitmapFrameEncode_Commit(frame)) && SUCCEEDED(IWICBitmapEncoder_Commit(encoder));

    /* Everything goes before the file is moved: the stream holds it open. */
    if (options) IPropertyBag2_Release(options);
    if (frame) IWICBitmapFrameEncode_Release(frame);
    if (encoder) IWICBitmapEncoder_Release(encoder);
    if (stream) IWICStream_Release(stream);
    return ok;
}

int savePng(IWICImagingFactory* factory, HBITMAP bitmap, const wchar_t* fileName) {
    PngJob job = {.factory = factory};
    if (GetObjectW(bitmap, sizeof job.section, &job.section) != sizeof job.section || !job.section.dsBm.bmBits ||
        (job.section.dsBm.bmBitsPixel != 24 && job.section.dsBm.bmBitsPixel != 32))
        return 0;
    return replaceFile(fileName, writePng, &job);
}
