// JPEG through TurboJPEG. Its BGR output with the default (accurate integer)
// transform and smooth upsampling gives the same bytes as Pillow's libjpeg.
// TurboJPEG catches libjpeg's error exits itself and reports them as -1, so
// none escapes as a crash. 12-bit files are refused at the header: this
// TurboJPEG decodes 8-bit samples only.
#include <turbojpeg.h>

#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "platform/jpeg_segments.h"
#include "platform/picture_failure.h"
#include "platform/picture_pixels.h"
#include "platform/pictures.h"
#include "platform/posix/picture.h"

namespace oct::plat {
namespace {

struct JpegReader : PictureReader {
    const std::uint8_t* data;
    std::size_t size;
    tjhandle handle;
    std::int32_t width, height;
    int colourspace;
    bool adobe;  // an Adobe APP14 marker: CMYK is stored inverted
};

// Adobe APP14 segment ("Adobe" then version, flags and transform), looked for
// among the segments before the first scan.
//   FF EE  length(2, big-endian)  "Adobe" ...
bool hasAdobeMarker(const std::uint8_t* data, std::size_t size) {
    JpegSegments segments({data, size});
    JpegSegment segment{};
    while (segments.next(segment))
        if (segment.marker == 0xEE && segment.body.size() >= 5 && std::memcmp(segment.body.data(), "Adobe", 5) == 0)
            return true;
    return false;
}

// libjpeg's own words for the last error, its first letter made small to
// follow "damaged JPEG (".
bool jpegDamaged(tjhandle handle) {
    char words[96];
    std::snprintf(words, sizeof words, "%s", tjGetErrorStr2(handle));
    if (words[0] >= 'A' && words[0] <= 'Z' && !(words[1] >= 'A' && words[1] <= 'Z')) words[0] += 'a' - 'A';
    return pictureDamaged(PictureFormat::Jpeg, words);
}

PictureReader* jpegOpen(const std::uint8_t* data, std::size_t size, const PictureLimits& limits, PictureInfo& info) {
    if (size > static_cast<std::size_t>(0xFFFFFFFFu)) return nullptr;  // TurboJPEG takes an unsigned long size
    tjhandle handle = tjInitDecompress();
    if (!handle) return nullptr;
    int width = 0, height = 0, subsampling = 0, colourspace = 0;
    // A warning (stray bytes between segments, say) leaves the headers read:
    // libjpeg reads on, and so does the decode.
    const int header = tjDecompressHeader3(handle, data, static_cast<unsigned long>(size), &width, &height,
                                           &subsampling, &colourspace);
    const bool read = header == 0 || tjGetErrorCode(handle) == TJERR_WARNING;
    if (!read) jpegDamaged(handle);
    if (!read || !pictureFits(limits, width, height)) {
        tjDestroy(handle);
        return nullptr;
    }
    auto* reader = new (std::nothrow) JpegReader{};
    if (!reader) {
        tjDestroy(handle);
        return nullptr;
    }
    reader->data = data;
    reader->size = size;
    reader->handle = handle;
    reader->width = width;
    reader->height = height;
    reader->colourspace = colourspace;
    reader->adobe = hasAdobeMarker(data, size);
    info.width = width;
    info.height = height;
    info.sourceDepth = colourspace == TJCS_GRAY ? 8 : colourspace == TJCS_CMYK || colourspace == TJCS_YCCK ? 32 : 24;
    info.alpha = false;
    info.frameCount = 1;
    return reader;
}

bool jpegFrameInfo(PictureReader* base, std::int32_t index, PictureFrame& frame) {
    const auto* reader = static_cast<JpegReader*>(base);
    return pictureStillFrame(reader->width, reader->height, index, frame);
}

// A decoding that ended with a warning has written every row: corrupt data
// was skipped or concealed, as Pillow shows it too. Only a stream that ends
// early is a failure: its missing rows were made up.
bool jpegFinished(tjhandle handle, int result) {
    if (result == 0) return true;
    if (tjGetErrorCode(handle) != TJERR_WARNING ||
        std::strstr(tjGetErrorStr2(handle), "Premature end of JPEG file") != nullptr)
        return jpegDamaged(handle);
    return true;
}

bool jpegDecodeCmyk(JpegReader* reader, const RowTarget& target) {
    std::vector<std::uint8_t> cmyk;
    try {
        cmyk.resize(static_cast<std::size_t>(reader->width) * reader->height * 4);
    } catch (const std::bad_alloc&) {
        return false;
    }
    const int result = tjDecompress2(reader->handle, reader->data, static_cast<unsigned long>(reader->size),
                                     cmyk.data(), reader->width, reader->width * 4, reader->height, TJPF_CMYK, 0);
    if (!jpegFinished(reader->handle, result)) return false;
    const std::uint8_t flip = reader->adobe ? 0xFF : 0x00;
    for (std::int32_t y = 0; y < reader->height; ++y) {
        const std::uint8_t* src = cmyk.data() + static_cast<std::size_t>(reader->width) * 4 * y;
        std::uint8_t* dst = target.row(y);
        for (std::int32_t x = 0; x < reader->width; ++x, src += 4) {
            // With C, M, Y, K as ink amounts; the Adobe files store 255 − ink.
            const std::uint32_t black = src[3] ^ flip;
            putPixel(dst, x, target.bpp, pixelCmykToLight(src[2] ^ flip, black),
                     pixelCmykToLight(src[1] ^ flip, black), pixelCmykToLight(src[0] ^ flip, black), 255);
        }
    }
    return true;
}

bool jpegDecode(PictureReader* base, std::int32_t, const RowTarget& target) {
    auto* reader = static_cast<JpegReader*>(base);
    if (reader->colourspace == TJCS_CMYK || reader->colourspace == TJCS_YCCK) return jpegDecodeCmyk(reader, target);
    // TurboJPEG writes straight into the caller's rows, bottom-up when asked;
    // the fourth byte of TJPF_BGRA is 255.
    const int result = tjDecompress2(reader->handle, reader->data, static_cast<unsigned long>(reader->size),
                                     target.rows, reader->width, target.pitch, reader->height,
                                     target.bpp == 4 ? TJPF_BGRA : TJPF_BGR, target.bottomUp ? TJFLAG_BOTTOMUP : 0);
    return jpegFinished(reader->handle, result);
}

void jpegClose(PictureReader* base) {
    auto* reader = static_cast<JpegReader*>(base);
    tjDestroy(reader->handle);
    delete reader;
}

}  // namespace

const PictureCodec kJpegCodec{.open = jpegOpen, .frameInfo = jpegFrameInfo, .decode = jpegDecode,
                              .close = jpegClose};

}  // namespace oct::plat
