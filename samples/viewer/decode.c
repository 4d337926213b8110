/* Decoding with the Windows Imaging Component into a DIB section of the
 * viewer's own, as any host program that hands its bitmaps to the library
 * would do. */
#include "viewer.h"

#include <limits.h>

/* Whether the frame's pixels carry transparency: an indexed frame through
 * its palette (a GIF's transparent index, a PNG palette with alpha), any
 * other through what WIC records for its pixel format. */
static int frameHasAlpha(IWICImagingFactory* factory, IWICBitmapFrameDecode* frame, REFWICPixelFormatGUID format) {
    BOOL alpha = FALSE;
    IWICPalette* palette = NULL;
    if (SUCCEEDED(IWICImagingFactory_CreatePalette(factory, &palette))) {
        if (FAILED(IWICBitmapFrameDecode_CopyPalette(frame, palette)) || FAILED(IWICPalette_HasAlpha(palette, &alpha)))
            alpha = FALSE;
        IWICPalette_Release(palette);
    }
    if (alpha) return 1;
    IWICComponentInfo* info = NULL;
    if (SUCCEEDED(IWICImagingFactory_CreateComponentInfo(factory, format, &info))) {
        IWICPixelFormatInfo2* formatInfo = NULL;
        if (SUCCEEDED(IWICComponentInfo_QueryInterface(info, &IID_IWICPixelFormatInfo2, (void**)&formatInfo))) {
            if (FAILED(IWICPixelFormatInfo2_SupportsTransparency(formatInfo, &alpha))) alpha = FALSE;
            IWICPixelFormatInfo2_Release(formatInfo);
        }
        IWICComponentInfo_Release(info);
    }
    return alpha != FALSE;
}

HBITMAP decodePicture(IWICImagingFactory* factory, const wchar_t* fileName) {
    HBITMAP bitmap = NULL;
    IWICBitmapDecoder* decoder = NULL;
    IWICBitmapFrameDecode* frame = NULL;
    IWICFormatConverter* converter = NULL;
    IWICBitmapFlipRotator* flip = NULL;
    UINT width = 0, height = 0;
    WICPixelFormatGUID native;
    if (FAILED(IWICImagingFactory_CreateDecoderFromFilename(factory, fileName, NULL, GENERIC_READ,
                                                            WICDecodeMetadataCacheOnDemand, &decoder)) ||
        FAILED(IWICBitmapDecoder_GetFrame(decoder, 0, &frame)) ||
        FAILED(IWICBitmapFrameDecode_GetSize(frame, &width, &height)) ||
        FAILED(IWICBitmapFrameDecode_GetPixelFormat(frame, &native)) || width == 0 || height == 0)
        goto done;

    const int alpha = frameHasAlpha(factory, frame, &native);
    const UINT64 stride = ((UINT64)width * (alpha ? 32 : 24) + 31) / 32 * 4;
    /* CreateDIBSection takes signed sizes and CopyPixels a 32-bit count. */
    if (width > INT_MAX || height > INT_MAX || stride * height > UINT_MAX) goto done;

    /* WIC gives rows top-down; octConvert reads only bottom-up sections, so
     * the flip rotator hands them over in the section's order. */
    if (FAILED(IWICImagingFactory_CreateFormatConverter(factory, &converter)) ||
        FAILED(IWICFormatConverter_Initialize(converter, (IWICBitmapSource*)frame,
                                              alpha ? &GUID_WICPixelFormat32bppBGRA : &GUID_WICPixelFormat24bppBGR,
                                              WICBitmapDitherTypeNone, NULL, 0.0, WICBitmapPaletteTypeCustom)) ||
        FAILED(IWICImagingFactory_CreateBitmapFlipRotator(factory, &flip)) ||
        FAILED(IWICBitmapFlipRotator_Initialize(flip, (IWICBitmapSource*)converter, WICBitmapTransformFlipVertical)))
        goto done;

    BITMAPINFO info = {0};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = (LONG)width;
    info.bmiHeader.biHeight = (LONG)height; /* positive: bottom-up */
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = alpha ? 32 : 24;
    info.bmiHeader.biCompression = BI_RGB;
    void* pixels = NULL;
    bitmap = CreateDIBSection(NULL, &info, DIB_RGB_COLORS, &pixels, NULL, 0);
    if (bitmap && FAILED(IWICBitmapFlipRotator_CopyPixels(flip, NULL, (UINT)stride, (UINT)(stride * height), pixels))) {
        DeleteObject(bitmap);
        bitmap = NULL;
    }

done:
    if (flip) IWICBitmapFlipRotator_Release(flip);
    if (converter) IWICFormatConverter_Release(converter);
    if (frame) IWICBitmapFrameDecode_Release(frame);
    if (decoder) IWICBitmapDecoder_Release(decoder);
    return bitmap;
}
