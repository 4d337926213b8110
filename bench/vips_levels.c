/* The libvips peer of bench/batch: each JPEG to the 8 gray levels by our
 * rule and saved as a PNG, one process over every file, on one thread.
 *
 * The levels are exact integer arithmetic: the three bands summed as
 * integers (0 to 765), and one 766-entry table that maps the sum s to the
 * palette value of level s div 96, so that the division and the palette are
 * one lookup. The PNG is libvips's default (8-bit gray, its default
 * compression), with the JPEG's metadata stripped, since octtool carries
 * none over and a 64 KB EXIF block would weigh in the bytes otherwise. Each
 * JPEG is read sequentially, libvips's way for a load that streams into a
 * save, and the operation cache is off, so no file is helped by the one
 * before it.
 *
 *   vips_levels OUTDIR FILE...
 *
 * writes OUTDIR/STEM.png for each FILE and prints one line: the files and
 * the milliseconds this process spent on them (bench/batch times the whole
 * process). Exits 1, naming the file and in libvips's words, when one fails;
 * anything but 8-bit, 3-band pictures is refused. */
#define _POSIX_C_SOURCE 199309L /* clock_gettime */

#include <stdio.h>
#include <string.h>
#include <time.h>

#include <vips/vips.h>

static const unsigned char kPalette[8] = {0, 29, 59, 89, 119, 149, 179, 255};

static double nowMs(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)t.tv_sec * 1e3 + (double)t.tv_nsec * 1e-6;
}

/* OUTDIR/STEM.png into out, or 0 when it does not fit. */
static int outputName(char* out, size_t size, const char* dir, const char* path) {
    const char* base = strrchr(path, '/');
    base = base ? base + 1 : path;
    const char* dot = strrchr(base, '.');
    const int stem = dot && dot != base ? (int)(dot - base) : (int)strlen(base);
    const int n = snprintf(out, size, "%s/%.*s.png", dir, stem, base);
    return n > 0 && (size_t)n < size;
}

/* One file: load, sum the bands, map through the table, save. The images
 * belong to `scope`, which the caller unrefs whatever happens. */
static int convertOne(VipsObject* scope, VipsImage* lut, const char* path, const char* target) {
    VipsImage** t = (VipsImage**)vips_object_local_array(scope, 6);
    if (vips_jpegload(path, &t[0], "access", VIPS_ACCESS_SEQUENTIAL, NULL)) return 0;
    if (t[0]->Bands != 3 || t[0]->BandFmt != VIPS_FORMAT_UCHAR) {
        vips_error("vips_levels", "%d bands of format %d, where 3 of 8 bits are expected", t[0]->Bands,
                   (int)t[0]->BandFmt);
        return 0;
    }
    if (vips_extract_band(t[0], &t[1], 0, NULL) || vips_extract_band(t[0], &t[2], 1, NULL) ||
        vips_extract_band(t[0], &t[3], 2, NULL))
        return 0;
    /* The sum of three uchar bands is a ushort image: no rounding, no overflow. */
    if (vips_sum(&t[1], &t[4], 3, NULL) || vips_maplut(t[4], &t[5], lut, NULL)) return 0;
    return vips_pngsave(t[5], target, "strip", TRUE, NULL) == 0;
}

int main(int argc, char** argv) {
    if (VIPS_INIT(argv[0])) vips_error_exit("vips_levels: cannot start libvips");
    if (argc < 3) {
        fprintf(stderr, "usage: vips_levels OUTDIR FILE...\n");
        return 2;
    }
    vips_concurrency_set(1);
    vips_cache_set_max(0);

    unsigned char table[766];
    for (int s = 0; s < 766; ++s) table[s] = kPalette[s / 96];
    VipsImage* lut = vips_image_new_from_memory_copy(table, sizeof table, 766, 1, 1, VIPS_FORMAT_UCHAR);
    if (!lut) vips_error_exit("vips_levels: cannot make the table");

    int status = 0;
    const double start = nowMs();
    for (int i = 2; i < argc && status == 0; ++i) {
        char target[4096];
        if (!outputName(target, sizeof target, argv[1], argv[i])) {
            fprintf(stderr, "vips_levels: %s: the output name is too long\n", argv[i]);
            status = 1;
            break;
        }
        VipsObject* scope = VIPS_OBJECT(vips_image_new());
        if (!convertOne(scope, lut, argv[i], target)) {
            fprintf(stderr, "vips_levels: %s: %s", argv[i], vips_error_buffer());
            vips_error_clear();
            status = 1;
        }
        g_object_unref(scope);
    }
    if (status == 0) printf("files=%d work_ms=%.1f\n", argc - 2, nowMs() - start);
    g_object_unref(lut);
    vips_shutdown();
    return status;
}
