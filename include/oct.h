/** @file oct.h
 * oct: reduces pictures to 8 gray levels (and 8 alpha levels), stores them as
 * level files and rebuilds displayable bitmaps from them.
 *
 * Every argument and every result is a 64-bit integer, pointer or handle.
 * Failure is reported as 0; on Linux octLastError then says why. File names
 * are zero-terminated UTF-16 strings. On Windows the bitmap handles are
 * HBITMAPs; on Linux they are handles of the library's own bitmaps
 * (octBitmap…). */
#ifndef OCT_H
#define OCT_H

#include <stdint.h>
#ifndef __cplusplus
#include <uchar.h> /* char16_t */
#endif

#if defined(_WIN32)
#define OCT_API
#elif defined(OCT_BUILDING_LIBRARY)
#define OCT_API __attribute__((visibility("default")))
#else
#define OCT_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/** A conversion record: opaque to the host, released with octFree. It holds
 * the level buffer, the level-file header and a rebuilt 24-bit (no alpha) or
 * 32-bit (alpha) bitmap that the host may draw but must not delete. */
typedef struct OctImage OctImage;

/** Converts the host's bitmap: a bottom-up DIB section of 24 or 32 bits. The
 * bitmap stays the host's and is only read; the record keeps nothing of it,
 * so the host may delete it (and free pixels it wrapped) once this returns.
 * A new record, or 0 (also for 0, a bitmap without addressable bits, another
 * depth, or a top-down section). */
OCT_API OctImage* octConvert(int64_t bitmap);

/** Loads a file: a picture that an image decoder takes (BMP files of 1 to 32
 * bits per pixel, PNG, JPEG, GIF (its first frame), TIFF (its first page),
 * WebP, HEIF, AVIF and JPEG XL, where the system has a codec for it),
 * otherwise a level file. A new
 * record, or 0. */
OCT_API OctImage* octLoad(const char16_t* fileName);

/** The same from a block of memory of `size` bytes. A new record, or 0 (also
 * for a null address, a size of 0 or less, or one beyond 2^31 - 1). */
OCT_API OctImage* octCatch(const void* data, int64_t size);

/** Writes the record: with flag 0 as a level file, otherwise its rebuilt
 * bitmap as a BMP file (24 bits, or 32 with alpha). 1 when the file was
 * written, else 0; a failed save leaves an existing file of that name as it
 * was. */
OCT_API int64_t octSave(OctImage* record, const char16_t* fileName, int64_t flag);

/** Releases a record and everything it owns. 0 does nothing. Always 0.
 * On Linux the pages of the last large bitmap released (one, of at most
 * 64 MB) are kept for the next bitmap of the same size, which spares the
 * system clearing fresh pages; a host therefore holds up to that much more
 * than its live records. */
OCT_API int64_t octFree(OctImage* record);

/** The picture's width; 0 for a null record. */
OCT_API int64_t octWidth(OctImage* record);
/** The picture's height; 0 for a null record. */
OCT_API int64_t octHeight(OctImage* record);

/** The level-file header's alpha byte: 1 for a picture with alpha levels, 0
 * without; 0 for a null record. */
OCT_API int64_t octAlpha(OctImage* record);

/** The rebuilt bitmap's handle; it belongs to the record. 0 for a null record. */
OCT_API int64_t octHandle(OctImage* record);

/** 1, the interface version. */
OCT_API int64_t octVersion(void);

#ifndef _WIN32
/** Linux hosts have no GDI: these helpers make, read and delete the
 * library's bitmaps, with the layout of the Windows BITMAP record. */
typedef struct OctBitmap {
    int32_t type;          /**< 0 */
    int32_t width;         /**< pixels in a row */
    int32_t height;        /**< rows */
    int32_t widthBytes;    /**< bytes per row, a multiple of 4; a wrapped bitmap's pitch */
    uint16_t planes;       /**< 1 */
    uint16_t bitsPerPixel; /**< 24 or 32 */
    void* bits;            /**< rows bottom-up: the bottom row first */
} OctBitmap;

/** A new zero-filled bottom-up DIB section of 24 or 32 bits, or 0. */
OCT_API int64_t octBitmapCreate(int64_t width, int64_t height, int64_t bitsPerPixel);

/** A bottom-up DIB section of 24 or 32 bits over the host's own pixels, for
 * octConvert without a copy: `bits` is the bottom row (B, G, R or B, G, R, A
 * a pixel), `pitch` the bytes from it to the row above, negative when the
 * rows run downward in memory. For top-row-first rows of `stride` bytes,
 * pass the last row and -stride. Any |pitch| of at least a row of pixels
 * will do. The memory stays the host's: it must stay readable while the
 * bitmap lives, the library never writes it, and octBitmapDelete leaves it
 * alone. octBitmapInfo gives `bits` and `pitch` as they were passed. A new
 * handle, or 0 with the reason in octLastError (null bits, a side of 0 or
 * less, another depth, |pitch| less than a row, or more bytes than
 * octBitmapCreate makes a section of). */
OCT_API int64_t octBitmapWrap(void* bits, int64_t width, int64_t height, int64_t pitch, int64_t bitsPerPixel);

/** 1 and fills out when the handle is a live bitmap, else 0. */
OCT_API int64_t octBitmapInfo(int64_t handle, OctBitmap* out);

/** 1 when a bitmap was deleted, else 0. A record's rebuilt bitmap belongs to
 * the record: octFree deletes it. */
OCT_API int64_t octBitmapDelete(int64_t handle);

/** The record's level codes, as the front of its level buffer holds them: a
 * 3-bit code per pixel, or a 3-bit gray code and then a 3-bit alpha code
 * with alpha (octAlpha), lowest bit first, pixels in the order of the rows
 * of a bottom-up bitmap (the bottom row first), each row left to right,
 * codes running on across rows (docs/formats/level-buffer.md). The number
 * of bytes they take, ceil(3 * width * height / 8) or ceil(6 * width *
 * height / 8); when `out` is not null and `size` is at least that, the codes
 * are copied there, codes a level file did not store and bits past the last
 * code as 0. 0 for a null record. */
OCT_API int64_t octLevelCodes(OctImage* record, void* out, int64_t size);

/** Why the calling thread's last octConvert, octLoad, octCatch, octSave or
 * octBitmapWrap failed: a code, 0 when the last of them succeeded, and into
 * `text` (when not null, `size` bytes with the terminator) a short UTF-8
 * text saying what is known, without the file's name: "no such file",
 * "damaged JPEG (premature end of JPEG file)", "a HEIF picture, which this
 * system has no codec for".
 * The codes are those of the OCT_E… names below; a host may meet new ones. */
OCT_API int64_t octLastError(char* text, int64_t size);

/** The causes octLastError gives. */
enum {
    OCT_ENONE = 0,        /**< the last call succeeded */
    OCT_ENOFILE = 1,      /**< no such file, or no such folder to write into */
    OCT_EPERM = 2,        /**< permission denied, a read-only file or file system */
    OCT_EFOLDER = 3,      /**< a folder where a file belongs */
    OCT_EUNKNOWN = 4,     /**< not a picture or level file this library knows */
    OCT_ENOCODEC = 5,     /**< a picture this system has no codec for */
    OCT_EDAMAGED = 6,     /**< a known format, damaged or cut short */
    OCT_ETOOLARGE = 7,    /**< sides, bytes or frames beyond the library's limits */
    OCT_ENOMEM = 8,       /**< out of memory */
    OCT_ENOSPACE = 9,     /**< no space left on the device */
    OCT_EWRITE = 10,      /**< a write failed for another reason */
    OCT_ELEVELS = 11,     /**< levels a level file cannot hold: too few pixels, or they do not compress */
    OCT_EREAD = 12,       /**< a read failed */
    OCT_EARGUMENT = 13,   /**< a call with what it cannot take */
    OCT_EOTHER = 14       /**< a failure whose cause the library could not name */
};
#endif

#ifdef __cplusplus
}
#endif

#endif /* OCT_H */
