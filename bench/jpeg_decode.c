/* The floor under octtool's JPEG jobs: TurboJPEG decoding each file to BGR
 * in memory and nothing else, one process and one thread over every file,
 * as `octtool convert -j 1 -o DIR` takes them. Each file is read whole into
 * memory and decoded into a buffer made for it, since octtool pays both the
 * read and a fresh picture per file; the writing, the levels and the output
 * are what octtool adds above this. The default transform (accurate integer
 * IDCT, smooth upsampling) is the one octtool asks libjpeg for.
 *
 *   jpeg_decode FILE...
 *
 * prints one line: the files, their megapixels, and the milliseconds spent
 * reading and decoding, as this process measured them (bench/batch times
 * the whole process). Exits 1, naming the file, when one fails. */
#define _POSIX_C_SOURCE 199309L /* clock_gettime */

#include <stdio.h>
#include <stdlib.h>
#include <time.h>

#include <turbojpeg.h>

static double nowMs(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)t.tv_sec * 1e3 + (double)t.tv_nsec * 1e-6;
}

/* The whole file in a buffer of the caller's to free, or NULL. */
static unsigned char* readWhole(const char* path, size_t* size) {
    FILE* f = fopen(path, "rb");
    if (!f) return NULL;
    unsigned char* data = NULL;
    long n = -1;
    if (fseek(f, 0, SEEK_END) == 0 && (n = ftell(f)) > 0 && fseek(f, 0, SEEK_SET) == 0) {
        data = malloc((size_t)n);
        if (data && fread(data, 1, (size_t)n, f) != (size_t)n) {
            free(data);
            data = NULL;
        }
    }
    fclose(f);
    *size = (size_t)n;
    return data;
}

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: jpeg_decode FILE...\n");
        return 2;
    }
    tjhandle tj = tjInitDecompress();
    if (!tj) {
        fprintf(stderr, "jpeg_decode: %s\n", tjGetErrorStr2(NULL));
        return 1;
    }
    double readMs = 0, decodeMs = 0, pixels = 0;
    int status = 0;
    for (int i = 1; i < argc && status == 0; ++i) {
        const double t0 = nowMs();
        size_t size = 0;
        unsigned char* data = readWhole(argv[i], &size);
        const double t1 = nowMs();
        readMs += t1 - t0;
        if (!data) {
            fprintf(stderr, "jpeg_decode: cannot read %s\n", argv[i]);
            status = 1;
            break;
        }
        int width = 0, height = 0, subsampling = 0, colourspace = 0;
        unsigned char* bgr = NULL;
        if (tjDecompressHeader3(tj, data, (unsigned long)size, &width, &height, &subsampling, &colourspace) != 0) {
            fprintf(stderr, "jpeg_decode: %s: %s\n", argv[i], tjGetErrorStr2(tj));
            status = 1;
        } else if (!(bgr = malloc((size_t)width * (size_t)height * 3))) {
            fprintf(stderr, "jpeg_decode: %s: no memory for %d x %d pixels\n", argv[i], width, height);
            status = 1;
        } else if (tjDecompress2(tj, data, (unsigned long)size, bgr, width, 0, height, TJPF_BGR, 0) != 0 &&
                   tjGetErrorCode(tj) != TJERR_WARNING) {
            /* A warning (corrupt data concealed) is decoded on, as octtool reads on. */
            fprintf(stderr, "jpeg_decode: %s: %s\n", argv[i], tjGetErrorStr2(tj));
            status = 1;
        }
        decodeMs += nowMs() - t1;
        pixels += (double)width * height;
        free(bgr);
        free(data);
    }
    tjDestroy(tj);
    if (status == 0)
        printf("files=%d megapixels=%.2f read_ms=%.1f decode_ms=%.1f\n", argc - 1, pixels / 1e6, readMs, decodeMs);
    return status;
}
