// JPEG through libjpeg's API (libjpeg-turbo), asked for what Pillow's libjpeg
// gives: BGR from the default (accurate integer) transform with smooth
// upsampling, so the bytes are Pillow's. libjpeg reads every sampling layout
// a frame may declare, where TurboJPEG's API knows only its few (4:4:4,
// 4:2:2, 4:2:0, 4:4:0, 4:1:1, gray) and refuses the headers of any other:
// odd factors such as 3x1, luma at 4x2, chroma sampled unlike each other.
// TurboJPEG also reports an error that follows a warning as the warning,
// with rows left unwritten; here every error fails the decoding. On the
// same build both give the same bytes at the same speed.
//
// libjpeg's error exit jumps back to the one function that set the jump,
// past plain functions only, so no C++ object is skipped; its messages go to
// the failure's reason, never to stderr. 12-bit files are refused at the
// header: this libjpeg decodes 8-bit samples only.
#include <csetjmp>
#include <cstdio>  // before jpeglib.h, which uses FILE and size_t
#include <new>

#include <jerror.h>
#include <jpeglib.h>

#include "platform/fail_reason.h"
#include "platform/picture_failure.h"
#include "platform/picture_pixels.h"
#include "platform/pictures.h"
#include "platform/posix/picture.h"

namespace oct::plat {
namespace {

// What the headers say.
struct JpegHeaders {
    std::int32_t width, height;
    int components;  // 1 gray, 3 colour, 4 CMYK or YCCK
};

struct JpegReader : PictureReader {
    const std::uint8_t* data;
    std::size_t size;
    JpegHeaders headers;
};

// libjpeg's error manager, where its error exit jumps back to, and what it said.
struct LibjpegErrors {
    jpeg_error_mgr manager;  // first: libjpeg's pointer to it is a pointer to this
    std::jmp_buf back;
    char words[JMSG_LENGTH_MAX];  // the error, or the early end of the data
    bool endedEarly;              // the data ended before the last row: the rows after were made up
    bool outOfMemory;
};

LibjpegErrors* errorsOf(j_common_ptr info) { return reinterpret_cast<LibjpegErrors*>(info->err); }

void libjpegWords(j_common_ptr info) { (*info->err->format_message)(info, errorsOf(info)->words); }

// An error libjpeg cannot read on from.
[[noreturn]] void libjpegErrorExit(j_common_ptr info) {
    libjpegWords(info);
    errorsOf(info)->outOfMemory = info->err->msg_code == JERR_OUT_OF_MEMORY;
    std::longjmp(errorsOf(info)->back, 1);
}

// Warnings: corrupt data skipped or concealed is read on, as Pillow reads
// on. Only the data's end before the last row is a failure, for libjpeg
// makes up the rows it has no data for; an end met after the last row (in
// the markers that follow it) has made up nothing. Trace messages (level 0
// and up) are dropped.
void libjpegMessage(j_common_ptr info, int level) {
    if (level >= 0) return;
    ++info->err->num_warnings;
    if (info->err->msg_code != JWRN_JPEG_EOF || errorsOf(info)->endedEarly || !info->is_decompressor) return;
    const auto* decompress = reinterpret_cast<j_decompress_ptr>(info);
    if (decompress->output_scanline < decompress->output_height) {
        errorsOf(info)->endedEarly = true;
        libjpegWords(info);
    }
}

// One pass of libjpeg over the data: the headers and, given a target, every row.
struct LibjpegPass {
    jpeg_decompress_struct info;
    LibjpegErrors errors;
    JpegHeaders headers;
};

// One row of CMYK as libjpeg gives it into a target row. libjpeg hands CMYK
// over as stored and turns YCCK into CMYK of the same polarity. Pillow takes
// every CMYK JPEG to be stored as Adobe's are, 255 − ink, whether or not it
// has Adobe's marker, and so does this reader: a file without the marker that
// holds the ink amounts themselves shows as Pillow shows it, a negative.
void cmykRow(const std::uint8_t* src, std::uint8_t* dst, std::int32_t width, std::int32_t bpp) {
    for (std::int32_t x = 0; x < width; ++x, src += 4) {
        const std::uint32_t black = 255u - src[3];
        putPixel(dst, x, bpp, pixelCmykToLight(255u - src[2], black), pixelCmykToLight(255u - src[1], black),
                 pixelCmykToLight(255u - src[0], black), 255);
    }
}

// The rows, straight into the target (the fourth byte of JCS_EXT_BGRA is
// 255), or for CMYK and YCCK through a few rows of CMYK from libjpeg's pool.
// False when libjpeg gave no row, which a source in memory never makes it do.
bool libjpegRows(LibjpegPass* pass, const RowTarget& target) {
    jpeg_decompress_struct* info = &pass->info;
    const bool cmyk = pass->headers.components == 4;
    info->out_color_space = cmyk ? JCS_CMYK : target.bpp == 4 ? JCS_EXT_BGRA : JCS_EXT_BGR;
    info->dct_method = JDCT_ISLOW;
    info->do_fancy_upsampling = TRUE;
    jpeg_start_decompress(info);
    constexpr JDIMENSION kRows = 16;
    JSAMPROW rows[kRows];
    const JSAMPARRAY inks = cmyk ? (*info->mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(info), JPOOL_IMAGE,
                                                             info->output_width * 4, kRows)
                                 : nullptr;
    while (info->output_scanline < info->output_height) {
        const JDIMENSION first = info->output_scanline;
        const JDIMENSION count = info->output_height - first < kRows ? info->output_height - first : kRows;
        for (JDIMENSION i = 0; i < count; ++i)
            rows[i] = inks ? inks[i] : target.row(static_cast<std::int32_t>(first + i));
        const JDIMENSION read = jpeg_read_scanlines(info, rows, count);
        if (read == 0) return false;
        if (inks)
            for (JDIMENSION i = 0; i < read; ++i)
                cmykRow(inks[i], target.row(static_cast<std::int32_t>(first + i)), target.width, target.bpp);
    }
    jpeg_finish_decompress(info);
    return true;
}

// Plain C-style, as are the functions it calls and libjpeg's callbacks: the
// error exit's jump lands here and skips no destructor. What it keeps is in
// *pass, which the jump leaves as it was.
bool libjpegRun(LibjpegPass* pass, const std::uint8_t* data, std::size_t size, const RowTarget* target) {
    jpeg_decompress_struct* info = &pass->info;
    info->err = jpeg_std_error(&pass->errors.manager);
    pass->errors.manager.error_exit = libjpegErrorExit;
    pass->errors.manager.emit_message = libjpegMessage;
    pass->errors.manager.output_message = libjpegWords;
    if (setjmp(pass->errors.back)) {
        jpeg_destroy_decompress(info);
        return false;
    }
    jpeg_create_decompress(info);
    jpeg_mem_src(info, data, static_cast<unsigned long>(size));
    jpeg_read_header(info, TRUE);
    // Gray, YCbCr or RGB, CMYK or YCCK: the colour spaces libjpeg makes BGR
    // or CMYK of. Any other (two components, five) is refused here, in
    // libjpeg's words, rather than once the picture is open.
    switch (info->jpeg_color_space) {
        case JCS_GRAYSCALE: pass->headers.components = 1; break;
        case JCS_YCbCr:
        case JCS_RGB: pass->headers.components = 3; break;
        case JCS_CMYK:
        case JCS_YCCK: pass->headers.components = 4; break;
        default: ERREXIT(info, JERR_CONVERSION_NOTIMPL); break;
    }
    pass->headers.width = static_cast<std::int32_t>(info->image_width);  // at most 65535
    pass->headers.height = static_cast<std::int32_t>(info->image_height);
    const bool ok = !target || libjpegRows(pass, *target);
    jpeg_destroy_decompress(info);
    return ok;
}

// libjpeg's own words, its first letter made small to follow "damaged JPEG (".
bool jpegDamaged(const char* said) {
    char words[JMSG_LENGTH_MAX];
    std::snprintf(words, sizeof words, "%s", said);
    if (words[0] >= 'A' && words[0] <= 'Z' && !(words[1] >= 'A' && words[1] <= 'Z')) words[0] += 'a' - 'A';
    return pictureDamaged(PictureFormat::Jpeg, words);
}

// The headers alone, or the decoding into `target` when there is one. The
// pass holds libjpeg's state, which must not move while libjpeg runs: one on
// the heap for each run. A warning while reading the headers (stray bytes
// between segments, say) leaves them read; the decoding tells whether the
// data end early.
bool libjpegPass(const std::uint8_t* data, std::size_t size, const RowTarget* target, JpegHeaders& headers) {
    auto* pass = new (std::nothrow) LibjpegPass{};
    if (!pass) return failNoMemory(sizeof(LibjpegPass));
    const bool ran = libjpegRun(pass, data, size, target);
    bool ok = ran && !pass->errors.endedEarly;
    if (!ok && !ran && pass->errors.outOfMemory) failNoMemory(0);
    else if (!ok) jpegDamaged(pass->errors.words);
    headers = pass->headers;
    delete pass;
    return ok;
}

PictureReader* jpegOpen(const std::uint8_t* data, std::size_t size, const PictureLimits& limits, PictureInfo& info) {
    // jpeg_mem_src takes an unsigned long size: 64 bits here, but not everywhere libjpeg runs.
    if (size > static_cast<std::size_t>(0xFFFFFFFFu)) return nullptr;
    JpegHeaders headers{};
    if (!libjpegPass(data, size, nullptr, headers) || !pictureFits(limits, headers.width, headers.height))
        return nullptr;
    auto* reader = new (std::nothrow) JpegReader{};
    if (!reader) {
        failNoMemory(sizeof(JpegReader));
        return nullptr;
    }
    reader->data = data;
    reader->size = size;
    reader->headers = headers;
    info.width = headers.width;
    info.height = headers.height;
    info.sourceDepth = 8 * headers.components;
    info.alpha = false;
    info.frameCount = 1;
    return reader;
}

bool jpegFrameInfo(PictureReader* base, std::int32_t index, PictureFrame& frame) {
    const auto* reader = static_cast<JpegReader*>(base);
    return pictureStillFrame(reader->headers.width, reader->headers.height, index, frame);
}

bool jpegDecode(PictureReader* base, std::int32_t, const RowTarget& target) {
    const auto* reader = static_cast<JpegReader*>(base);
    JpegHeaders headers{};
    return libjpegPass(reader->data, reader->size, &target, headers);
}

void jpegClose(PictureReader* base) { delete static_cast<JpegReader*>(base); }

}  // namespace

const PictureCodec kJpegCodec{.open = jpegOpen, .frameInfo = jpegFrameInfo, .decode = jpegDecode,
                              .close = jpegClose};

}  // namespace oct::plat
