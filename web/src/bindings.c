/* The calls the JavaScript side of the module makes: the library's own
 * exports with 32-bit arguments (WebAssembly's pointers; no 64-bit integers
 * cross into JavaScript), and the pixel and level layouts of the web (RGBA,
 * the top row first) turned into and out of the library's (bottom-up
 * bitmaps, packed level codes). Only oct.h's calls are used. */
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "oct.h"

#if defined(__wasm_simd128__)
#include <wasm_simd128.h>
#endif

#define OCT_WEB __attribute__((used, visibility("default")))

/* Level codes (3 bits, the first bit lowest) to levels: the inverse of the
 * codes of docs/formats/level-buffer.md. */
static const uint8_t kCodeLevel[8] = {0, 3, 2, 5, 1, 6, 4, 7};

/* Packs `pixels` RGBA pixels to RGB in place, four a step: each 16-byte
 * store lands below the bytes still to be read. */
static void packRgb(uint8_t* rgba, size_t pixels) {
    size_t i = 0;
#if defined(__wasm_simd128__)
    for (; i + 4 <= pixels; i += 4) {
        const v128_t v = wasm_v128_load(rgba + 4 * i);
        wasm_v128_store(rgba + 3 * i, wasm_i8x16_shuffle(v, v, 0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, 15, 15, 15, 15));
    }
#endif
    for (; i < pixels; ++i) {
        rgba[3 * i] = rgba[4 * i];
        rgba[3 * i + 1] = rgba[4 * i + 1];
        rgba[3 * i + 2] = rgba[4 * i + 2];
    }
}

/* True when some pixel of `pixels` RGBA pixels is not opaque. */
static int anyTranslucent(const uint8_t* rgba, size_t pixels) {
    uint8_t all = 255;
    for (size_t i = 0; i < pixels; ++i) all &= rgba[4 * i + 3];
    return all != 255;
}

/* Converts `width` × `height` RGBA pixels, the top row first, that the
 * caller placed in the module's memory. With `alpha` 1 the picture keeps its
 * alpha (a 32-bit bitmap); with 0 the pixels are packed to RGB in place (a
 * 24-bit bitmap), so the caller's block must be its own to change; with -1
 * it has alpha when some pixel is not opaque. The library sums red, green
 * and blue, so their order does not matter. A new record, or 0 with the
 * reason in octLastError. */
OCT_WEB OctImage* octWebFromRgba(uint8_t* rgba, int32_t width, int32_t height, int32_t alpha) {
    if (!rgba || width < 1 || height < 1) return octConvert(0);
    if (alpha < 0) alpha = anyTranslucent(rgba, (size_t)width * (size_t)height);
    const int64_t depth = alpha ? 4 : 3;
    if (!alpha) packRgb(rgba, (size_t)width * (size_t)height);
    const int64_t stride = depth * width;
    /* The bottom row is the last in memory; the bitmap climbs against it. */
    const int64_t bitmap = octBitmapWrap(rgba + (size_t)stride * (size_t)(height - 1), width, height,
                                         height > 1 ? -stride : stride, depth * 8);
    if (!bitmap) return 0;
    OctImage* record = octConvert(bitmap);
    octBitmapDelete(bitmap);
    return record;
}

/* A level file, BMP or icon in the module's memory (octCatch). */
OCT_WEB OctImage* octWebFromBytes(const void* data, int32_t size) { return octCatch(data, size); }

OCT_WEB int32_t octWebWidth(OctImage* record) { return (int32_t)octWidth(record); }
OCT_WEB int32_t octWebHeight(OctImage* record) { return (int32_t)octHeight(record); }
OCT_WEB int32_t octWebAlpha(OctImage* record) { return (int32_t)octAlpha(record); }
OCT_WEB void octWebFree(OctImage* record) { octFree(record); }

/* The record's gray levels into `levels` and, with alpha, its alpha levels
 * into `alphaLevels` (each width × height bytes, 0..7, the top row first).
 * 1, or 0 when the codes cannot be read (no memory for them). */
OCT_WEB int32_t octWebLevels(OctImage* record, uint8_t* levels, uint8_t* alphaLevels) {
    const int64_t width = octWidth(record), height = octHeight(record);
    const int64_t size = octLevelCodes(record, 0, 0);
    if (width < 1 || height < 1 || size < 1 || !levels) return 0;
    /* Eight bytes more, so that every read below may take a 16-bit window. */
    uint8_t* codes = calloc((size_t)size + 8, 1);
    if (!codes) return 0;
    octLevelCodes(record, codes, size);
    const int alpha = octAlpha(record) != 0;
    const int bitsPerPixel = alpha ? 6 : 3;
    uint64_t bit = 0;
    /* The codes run from the bottom row up. */
    for (int64_t y = height - 1; y >= 0; --y) {
        uint8_t* gray = levels + y * width;
        uint8_t* a = alphaLevels ? alphaLevels + y * width : 0;
        for (int64_t x = 0; x < width; ++x, bit += bitsPerPixel) {
            const unsigned window = (unsigned)codes[bit >> 3] | (unsigned)codes[(bit >> 3) + 1] << 8;
            const unsigned shifted = window >> (bit & 7);
            gray[x] = kCodeLevel[shifted & 7];
            if (alpha && a) a[x] = kCodeLevel[(shifted >> 3) & 7];
        }
    }
    free(codes);
    return 1;
}

/* The picture rebuilt from the levels (the record's bitmap) as RGBA, the top
 * row first, into `rgba` (width × height × 4 bytes); opaque without alpha.
 * 1, or 0 for a record without a bitmap. */
OCT_WEB int32_t octWebPixels(OctImage* record, uint8_t* rgba) {
    OctBitmap info;
    if (!rgba || !octBitmapInfo(octHandle(record), &info) || !info.bits) return 0;
    const int depth = info.bitsPerPixel / 8;
    for (int32_t y = 0; y < info.height; ++y) {
        const uint8_t* row = (const uint8_t*)info.bits + (size_t)(info.height - 1 - y) * (size_t)info.widthBytes;
        uint8_t* out = rgba + (size_t)y * (size_t)info.width * 4;
        for (int32_t x = 0; x < info.width; ++x, row += depth, out += 4) {
            out[0] = row[2];
            out[1] = row[1];
            out[2] = row[0];
            out[3] = depth == 4 ? row[3] : 255;
        }
    }
    return 1;
}

/* octSave to a file of the module's file system; `name` is UTF-16. */
OCT_WEB int32_t octWebSave(OctImage* record, const char16_t* name, int32_t flag) {
    return (int32_t)octSave(record, name, flag);
}

/* The calling thread's last failure: its code, and its text into `text`. */
OCT_WEB int32_t octWebLastError(char* text, int32_t size) { return (int32_t)octLastError(text, size); }
