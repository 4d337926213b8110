/* A second reader for the PNGs bench/batch writes: libspng decodes each file
 * to 8-bit RGB and this prints what it got, so that the check does not rest
 * on Pillow's reader alone.
 *
 *   png_pixels FILE...
 *
 * prints one line a file, "WIDTH HEIGHT CRC32 FILE" with tabs between, the
 * CRC-32 (zlib's) of the RGB rows, top row first, without padding: the same
 * number that zlib.crc32 gives for a numpy array of those pixels. A file
 * libspng refuses prints "error WHY FILE", again with tabs, and makes the
 * exit code 1; the other files are still read. */
#include <stdio.h>
#include <stdlib.h>

#include <spng.h>
#include <zlib.h>

/* The file's pixels as 8-bit RGB, or NULL with *why set. */
static unsigned char* decode(const char* path, size_t* size, uint32_t* width, uint32_t* height, const char** why) {
    FILE* f = fopen(path, "rb");
    if (!f) {
        *why = "cannot open";
        return NULL;
    }
    spng_ctx* ctx = spng_ctx_new(0);
    unsigned char* rgb = NULL;
    struct spng_ihdr ihdr;
    int err = ctx ? spng_set_png_file(ctx, f) : SPNG_EMEM;
    if (!err) err = spng_get_ihdr(ctx, &ihdr);
    if (!err) err = spng_decoded_image_size(ctx, SPNG_FMT_RGB8, size);
    if (!err && !(rgb = malloc(*size))) err = SPNG_EMEM;
    if (!err) err = spng_decode_image(ctx, rgb, *size, SPNG_FMT_RGB8, 0);
    if (err) {
        *why = spng_strerror(err);
        free(rgb);
        rgb = NULL;
    } else {
        *width = ihdr.width;
        *height = ihdr.height;
    }
    spng_ctx_free(ctx);
    fclose(f);
    return rgb;
}

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: png_pixels FILE...\n");
        return 2;
    }
    int status = 0;
    for (int i = 1; i < argc; ++i) {
        size_t size = 0;
        uint32_t width = 0, height = 0;
        const char* why = "";
        unsigned char* rgb = decode(argv[i], &size, &width, &height, &why);
        if (!rgb) {
            printf("error\t%s\t%s\n", why, argv[i]);
            status = 1;
            continue;
        }
        /* zlib's crc32 takes a uInt length: in steps, for pictures past 4 GB. */
        uLong crc = crc32(0L, Z_NULL, 0);
        for (size_t done = 0; done < size;) {
            const size_t step = size - done < (1u << 30) ? size - done : (1u << 30);
            crc = crc32(crc, rgb + done, (uInt)step);
            done += step;
        }
        printf("%u\t%u\t%08lx\t%s\n", width, height, crc, argv[i]);
        free(rgb);
    }
    return status;
}
