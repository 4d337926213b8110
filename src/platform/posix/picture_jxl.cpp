// JPEG XL through libjxl: every displayed frame of an animation (frames
// composed by the decoder, as it does by default), turned upright by its orientation field
// as libjxl does by default, alpha made straight by the decoder. Samples of
// up to 8 bits come as 8-bit values; wider ones come as 16 bits and keep
// their high byte (v >> 8), the rule of every other format here. The rows
// are written through the decoder's row callback straight into the caller's
// target, so no buffer of the whole picture is made here.
#include <jxl/decode.h>

#include <algorithm>
#include <new>
#include <vector>

#include "platform/fail_reason.h"
#include "platform/picture_failure.h"
#include "platform/pictures.h"
#include "platform/posix/picture.h"

namespace oct::plat {
namespace {

struct JxlReader : PictureReader {
    JxlDecoder* decoder;
    const std::uint8_t* data;
    std::size_t size;
    std::int32_t width, height;  // upright
    bool alpha, gray, wide;
    std::int32_t next;           // the displayed frame the decoder gives next
    std::vector<std::int32_t> delays;  // of every displayed frame, in ms; one 0 for a still picture
};

const char* statusWords(JxlDecoderStatus status) {
    switch (status) {
        // libjxl tells a cut stream from a broken one only on stderr.
        case JXL_DEC_ERROR: return "its data are invalid or cut short";
        case JXL_DEC_NEED_MORE_INPUT: return "cut short";
        case JXL_DEC_SUCCESS: return "no image in it";
        default: return "an unexpected decoder status";
    }
}

bool jxlFailed(JxlDecoderStatus status) { return pictureDamaged(PictureFormat::Jxl, statusWords(status)); }

void jxlRelease(JxlReader* reader) {
    if (reader->decoder) JxlDecoderDestroy(reader->decoder);
    delete reader;
}

// The display time of every frame an animation shows, read from the frame
// headers alone by a decoder of its own (no pixels are decoded for it):
// with frames composed, as here, a frame of no duration is laid under the
// next and is not shown by itself. False when there are more than
// `maxFrames`. Frames past damage are not counted: the frames before it
// still show.
bool countFrames(JxlReader& reader, const JxlBasicInfo& basic, std::int32_t maxFrames) {
    reader.delays.clear();
    JxlDecoder* counter = basic.have_animation ? JxlDecoderCreate(nullptr) : nullptr;
    if (counter && !JxlDecoderSubscribeEvents(counter, JXL_DEC_FRAME) &&
        !JxlDecoderSetInput(counter, reader.data, reader.size)) {
        JxlDecoderCloseInput(counter);
        const double msPerTick = basic.animation.tps_numerator
                                     ? 1000.0 * basic.animation.tps_denominator / basic.animation.tps_numerator
                                     : 0.0;
        JxlFrameHeader header{};
        while (JxlDecoderProcessInput(counter) == JXL_DEC_FRAME &&
               JxlDecoderGetFrameHeader(counter, &header) == JXL_DEC_SUCCESS) {
            if (reader.delays.size() >= static_cast<std::size_t>(maxFrames)) {
                JxlDecoderDestroy(counter);
                return false;
            }
            reader.delays.push_back(static_cast<std::int32_t>(std::clamp(header.duration * msPerTick + 0.5, 0.0, 1e9)));
        }
    }
    if (counter) JxlDecoderDestroy(counter);
    if (reader.delays.empty()) reader.delays.push_back(0);
    return true;
}

// Sets the reader's decoder to give the basic info and whole images, alpha
// made straight, from the start of the bytes: at the open and after a rewind.
bool startDecoder(JxlReader& reader) {
    if (JxlDecoderSubscribeEvents(reader.decoder, JXL_DEC_BASIC_INFO | JXL_DEC_FULL_IMAGE) ||
        JxlDecoderSetUnpremultiplyAlpha(reader.decoder, JXL_TRUE) ||
        JxlDecoderSetInput(reader.decoder, reader.data, reader.size))
        return false;
    JxlDecoderCloseInput(reader.decoder);
    return true;
}

PictureReader* jxlOpen(const std::uint8_t* data, std::size_t size, const PictureLimits& limits, PictureInfo& info) {
    auto* reader = new (std::nothrow) JxlReader{};
    if (!reader) return nullptr;
    reader->data = data;
    reader->size = size;
    reader->decoder = JxlDecoderCreate(nullptr);
    if (!reader->decoder || !startDecoder(*reader)) {
        failSet(FailCode::NoMemory, "out of memory");
        return jxlRelease(reader), nullptr;
    }
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
    if (!countFrames(*reader, basic, limits.maxFrames)) {
        failSet(FailCode::TooLarge, "more than %d frames", limits.maxFrames);
        return jxlRelease(reader), nullptr;
    }
    info.frameCount = static_cast<std::int32_t>(reader->delays.size());
    return reader;
}

// Every displayed frame covers the picture, the decoder having composed it.
bool jxlFrameInfo(PictureReader* base, std::int32_t index, PictureFrame& frame) {
    const auto* reader = static_cast<JxlReader*>(base);
    if (index < 0 || static_cast<std::size_t>(index) >= reader->delays.size()) return false;
    frame = PictureFrame{0, 0, reader->width, reader->height, reader->delays[static_cast<std::size_t>(index)],
                         FrameDisposal::Keep, false};
    return true;
}

// Frames are asked for in order as a rule; any other goes back to the start
// and skips to it.
bool seekFrame(JxlReader& reader, std::int32_t index) {
    if (index == reader.next) return true;
    JxlDecoderRewind(reader.decoder);
    if (!startDecoder(reader)) return jxlFailed(JXL_DEC_ERROR);
    JxlDecoderSkipFrames(reader.decoder, static_cast<std::size_t>(index));
    reader.next = index;
    return true;
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

bool jxlDecode(PictureReader* base, std::int32_t index, const RowTarget& target) {
    auto* reader = static_cast<JxlReader*>(base);
    if (!seekFrame(*reader, index)) return false;
    const JxlPixelFormat format{static_cast<std::uint32_t>((reader->gray ? 1 : 3) + (reader->alpha ? 1 : 0)),
                                reader->wide ? JXL_TYPE_UINT16 : JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 0};
    RowSink sink{&target, reader};
    for (;;) {
        const JxlDecoderStatus status = JxlDecoderProcessInput(reader->decoder);
        if (status == JXL_DEC_FULL_IMAGE) {
            ++reader->next;
            return true;
        }
        if (status == JXL_DEC_BASIC_INFO) continue;  // again, after a rewind
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
