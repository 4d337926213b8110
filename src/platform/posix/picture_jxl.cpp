// JPEG XL through libjxl: the first displayed frame (frames composed by the
// decoder, as it does by default), turned upright by its orientation field
// as libjxl does by default, alpha made straight by the decoder. Samples of
// up to 8 bits come as 8-bit values; wider ones come as 16 bits and keep
// their high byte (v >> 8), the rule of every other format here. The rows
// are written through the decoder's row callback straight into the caller's
// target, so no buffer of the whole picture is made here.
#include <jxl/decode.h>

#include <algorithm>
#include <new>

#include "platform/fail_reason.h"
#include "platform/picture_failure.h"
#include "platform/pictures.h"
#include "platform/posix/picture.h"

namespace oct::plat {
namespace {

struct JxlReader : PictureReader {
    JxlDecoder* decoder;
    std::int32_t width, height;  // upright
    bool alpha, gray, wide;
};

const char* statusWords(JxlDecoderStatus status) {
    switch (status) {
        case JXL_DEC_ERROR: return "JXL_DEC_ERROR";
        case JXL_DEC_NEED_MORE_INPUT: return "JXL_DEC_NEED_MORE_INPUT (cut short)";
        case JXL_DEC_SUCCESS: return "JXL_DEC_SUCCESS before any image";
        default: return "an unexpected decoder status";
    }
}

bool jxlFailed(JxlDecoderStatus status) { return pictureDamaged(PictureFormat::Jxl, statusWords(status)); }

void jxlRelease(JxlReader* reader) {
    if (reader->decoder) JxlDecoderDestroy(reader->decoder);
    delete reader;
}

PictureReader* jxlOpen(const std::uint8_t* data, std::size_t size, const PictureLimits& limits, PictureInfo& info) {
    auto* reader = new (std::nothrow) JxlReader{};
    if (!reader) return nullptr;
    reader->decoder = JxlDecoderCreate(nullptr);
    if (!reader->decoder || JxlDecoderSubscribeEvents(reader->decoder, JXL_DEC_BASIC_INFO | JXL_DEC_FULL_IMAGE) ||
        JxlDecoderSetUnpremultiplyAlpha(reader->decoder, JXL_TRUE) ||
        JxlDecoderSetInput(reader->decoder, data, size)) {
        failSet(FailCode::NoMemory, "out of memory");
        return jxlRelease(reader), nullptr;
    }
    JxlDecoderCloseInput(reader->decoder);
    // Only the headers are read here: the size is checked against the
    // limits before the decoder is asked for any pixels.
    const JxlDecoderStatus status = JxlDecoderProcessInput(reader->decoder);
    JxlBasicInfo basic{};
    if (status != JXL_DEC_BASIC_INFO || JxlDecoderGetBasicInfo(reader->decoder, &basic) != JXL_DEC_SUCCESS) {
        jxlFailed(status == JXL_DEC_BASIC_INFO ? JXL_DEC_ERROR : status);
        return jxlRelease(reader), nullptr;
    }
    // xsize and ysize are the stored sides; orientations 5 .. 8 swap them.
    const bool swap = basic.orientation >= JXL_ORIENT_TRANSPOSE;
    const std::int64_t width = swap ? basic.ysize : basic.xsize, height = swap ? basic.xsize : basic.ysize;
    if (width < 1 || height < 1) {
        pictureDamaged(PictureFormat::Jxl, "no pixels");
        return jxlRelease(reader), nullptr;
    }
    if (!pictureFits(limits, width, height)) return jxlRelease(reader), nullptr;
    reader->width = static_cast<std::int32_t>(width);
    reader->height = static_cast<std::int32_t>(height);
    reader->alpha = basic.alpha_bits > 0;
    reader->gray = basic.num_color_channels == 1;
    reader->wide = basic.bits_per_sample > 8;
    info.width = reader->width;
    info.height = reader->height;
    info.sourceDepth = static_cast<std::int32_t>(basic.bits_per_sample * basic.num_color_channels + basic.alpha_bits);
    info.alpha = reader->alpha;
    info.frameCount = 1;
    return reader;
}

bool jxlFrameInfo(PictureReader* base, std::int32_t index, PictureFrame& frame) {
    const auto* reader = static_cast<JxlReader*>(base);
    return pictureStillFrame(reader->width, reader->height, index, frame);
}

struct RowSink {
    const RowTarget* target;
    const JxlReader* reader;
};

// One run of pixels of row y from x on, as the decoder gives them: gray or
// RGB, then alpha, 8 or 16 bits a sample.
void putRun(void* opaque, std::size_t x, std::size_t y, std::size_t count, const void* pixels) {
    const auto& sink = *static_cast<const RowSink*>(opaque);
    const RowTarget& target = *sink.target;
    if (y >= static_cast<std::size_t>(target.height) || x >= static_cast<std::size_t>(target.width)) return;
    count = std::min(count, static_cast<std::size_t>(target.width) - x);
    const int colours = sink.reader->gray ? 1 : 3, channels = colours + (sink.reader->alpha ? 1 : 0);
    std::uint8_t* row = target.row(static_cast<std::int32_t>(y));
    const auto* bytes = static_cast<const std::uint8_t*>(pixels);
    const auto* words = static_cast<const std::uint16_t*>(pixels);
    for (std::size_t i = 0; i < count; ++i) {
        std::uint8_t s[4] = {0, 0, 0, 255};
        for (int c = 0; c < channels; ++c)
            s[c] = sink.reader->wide ? static_cast<std::uint8_t>(words[i * channels + c] >> 8) : bytes[i * channels + c];
        const std::uint8_t a = sink.reader->alpha ? s[colours] : 255;
        if (colours == 1) s[1] = s[2] = s[0];
        putPixel(row, static_cast<std::int32_t>(x + i), target.bpp, s[2], s[1], s[0], a);
    }
}

bool jxlDecode(PictureReader* base, std::int32_t, const RowTarget& target) {
    auto* reader = static_cast<JxlReader*>(base);
    const JxlPixelFormat format{static_cast<std::uint32_t>((reader->gray ? 1 : 3) + (reader->alpha ? 1 : 0)),
                                reader->wide ? JXL_TYPE_UINT16 : JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 0};
    RowSink sink{&target, reader};
    for (;;) {
        const JxlDecoderStatus status = JxlDecoderProcessInput(reader->decoder);
        if (status == JXL_DEC_FULL_IMAGE) return true;
        if (status == JXL_DEC_NEED_IMAGE_OUT_BUFFER) {
            if (JxlDecoderSetImageOutCallback(reader->decoder, &format, putRun, &sink) != JXL_DEC_SUCCESS)
                return jxlFailed(JXL_DEC_ERROR);
            continue;
        }
        return jxlFailed(status);
    }
}

void jxlClose(PictureReader* base) { jxlRelease(static_cast<JxlReader*>(base)); }

}  // namespace

const PictureCodec kJxlCodec{.open = jxlOpen, .frameInfo = jxlFrameInfo, .decode = jxlDecode, .close = jxlClose};

}  // namespace oct::plat
