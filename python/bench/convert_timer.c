/* Times octConvert from C on the pixels that python_bench.py hands over: a
 * raw file of height x width x 3 (RGB) or x 4 (RGBA) bytes, top row first.
 * The pixels go into a bitmap of the library's own once, outside the timing;
 * each run then converts it and frees the record.
 *
 *   convert_timer RAW WIDTH HEIGHT DEPTH RUNS
 *
 * prints one line: the fastest run and the median, in seconds. */
#define _POSIX_C_SOURCE 199309L /* clock_gettime */

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "oct.h"

static double now(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)t.tv_sec + (double)t.tv_nsec * 1e-9;
}

static int ascending(const void* a, const void* b) {
    const double x = *(const double*)a, y = *(const double*)b;
    return x < y ? -1 : x > y;
}

int main(int argc, char** argv) {
    if (argc != 6) {
        fprintf(stderr, "usage: convert_timer RAW WIDTH HEIGHT DEPTH RUNS\n");
        return 2;
    }
    const long width = atol(argv[2]), height = atol(argv[3]), depth = atol(argv[4]);
    const int runs = atoi(argv[5]);
    if (width < 1 || height < 1 || (depth != 3 && depth != 4) || runs < 1) {
        fprintf(stderr, "convert_timer: bad arguments\n");
        return 2;
    }
    const size_t rowBytes = (size_t)width * (size_t)depth;
    unsigned char* raw = malloc(rowBytes * (size_t)height);
    FILE* f = fopen(argv[1], "rb");
    if (!raw || !f || fread(raw, 1, rowBytes * (size_t)height, f) != rowBytes * (size_t)height) {
        fprintf(stderr, "convert_timer: cannot read %s\n", argv[1]);
        return 1;
    }
    fclose(f);

    const int64_t bitmap = octBitmapCreate(width, height, depth * 8);
    OctBitmap info;
    if (!bitmap || !octBitmapInfo(bitmap, &info)) {
        fprintf(stderr, "convert_timer: no bitmap\n");
        return 1;
    }
    /* Bottom-up rows of blue, green, red (and alpha), as a host fills a DIB section. */
    for (long y = 0; y < height; y++) {
        const unsigned char* in = raw + (size_t)y * rowBytes;
        unsigned char* out = (unsigned char*)info.bits + (size_t)(height - 1 - y) * (size_t)info.widthBytes;
        for (long x = 0; x < width; x++, in += depth, out += depth) {
            out[0] = in[2];
            out[1] = in[1];
            out[2] = in[0];
            if (depth == 4) out[3] = in[3];
        }
    }
    free(raw);

    double* times = malloc(sizeof(double) * (size_t)runs);
    for (int i = 0; i < runs; i++) {
        const double start = now();
        OctImage* record = octConvert(bitmap);
        times[i] = now() - start;
        if (!record) {
            fprintf(stderr, "convert_timer: octConvert failed\n");
            return 1;
        }
        octFree(record);
    }
    qsort(times, (size_t)runs, sizeof(double), ascending);
    printf("%.6f %.6f\n", times[0], times[runs / 2]);
    free(times);
    octBitmapDelete(bitmap);
    return 0;
}
