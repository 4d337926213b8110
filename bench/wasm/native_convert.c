/* octConvert natively on raw pixels, for bench/wasm/run: reads WIDTH ×
 * HEIGHT RGBA pixels (the top row first) from a file, wraps them as the
 * npm package's fromPixels does (32 bits with alpha; packed to 24 bits
 * without), and prints the median milliseconds of REPS conversions (each
 * octConvert and its octFree), after one warm-up.
 * Usage: native_convert PIXELS WIDTH HEIGHT ALPHA(0|1) REPS */
#define _POSIX_C_SOURCE 200809L
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "oct.h"

static double now(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

static int byValue(const void* a, const void* b) {
    const double x = *(const double*)a, y = *(const double*)b;
    return (x > y) - (x < y);
}

int main(int argc, char** argv) {
    if (argc != 6) {
        fprintf(stderr, "usage: native_convert PIXELS WIDTH HEIGHT ALPHA REPS\n");
        return 2;
    }
    const int64_t width = atoll(argv[2]), height = atoll(argv[3]);
    const int alpha = atoi(argv[4]), reps = atoi(argv[5]);
    const size_t size = (size_t)(width * height * 4);
    uint8_t* rgba = malloc(size);
    FILE* f = fopen(argv[1], "rb");
    if (!rgba || !f || fread(rgba, 1, size, f) != size || reps < 1) {
        fprintf(stderr, "native_convert: cannot read %zu bytes of %s\n", size, argv[1]);
        return 1;
    }
    fclose(f);
    const int64_t depth = alpha ? 4 : 3;
    if (!alpha)
        for (size_t i = 0; i < (size_t)(width * height); ++i) memmove(rgba + 3 * i, rgba + 4 * i, 3);
    const int64_t stride = depth * width;
    const int64_t bitmap = octBitmapWrap(rgba + stride * (height - 1), width, height, -stride, depth * 8);
    double* times = calloc((size_t)reps, sizeof *times);
    if (!bitmap || !times) return 1;
    for (int i = -1; i < reps; ++i) {
        const double start = now();
        OctImage* record = octConvert(bitmap);
        if (!record) return 1;
        octFree(record);
        if (i >= 0) times[i] = now() - start;
    }
    qsort(times, (size_t)reps, sizeof *times, byValue);
    printf("%.3f\n", times[reps / 2]);
    octBitmapDelete(bitmap);
    free(times);
    free(rgba);
    return 0;
}
