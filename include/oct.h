/* oct: reduces pictures to 8 gray levels (and 8 alpha levels), stores them as
 * level files and rebuilds displayable bitmaps from them.
 *
 * Every argument and every result is a 64-bit integer, pointer or handle.
 * Failure is reported as 0 and carries no reason. File names are
 * zero-terminated UTF-16 strings. On Windows the bitmap handles are HBITMAPs;
 * on Linux they are handles of the library's own bitmaps (octBitmap…). */
#ifndef OCT_H
#define OCT_H

#include <stdint.h>

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

/* A conversion record: opaque to the host, released with octFree. */
typedef struct OctImage OctImage;

/* 1, the interface version. */
OCT_API int64_t octVersion(void);

#ifdef __cplusplus
}
#endif

#endif /* OCT_H */
