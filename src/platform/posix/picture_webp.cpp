// WebP through libwebp: still pictures straight from the decoder, animations
// through the demuxer, one frame (its own rectangle) at a time. The decoder
// writes BGR or BGRA with straight alpha directly into the caller's rows, and
// flips them itself for bottom-up targets.
#include <webp/decode.h>
#include <webp/demux.h>

#include <new>

#include "platform/fail_reason.h"
#include "platform/picture_failure.h"
#include "platform/pictures.h"
#include "platform/posix/picture.h"

namespace oct::plat {
namespace {

struct WebPReader : PictureReader {
    const std::uint8_t* data;
    std::size_t size;
    WebPDemuxer* demux;  // animations only
    std::int32_t width, height;
    std::int32_t frameCount;
};

// libwebp's status codes in words.
const char* statusWords(VP8StatusCode status) {
    switch (status) {
        case VP8_STATUS_OUT_OF_MEMORY: return "out of memory";
        case VP8_STATUS_INVALID_PARAM: return "invalid parameter";
        case VP8_STATUS_BITSTREAM_ERROR: return "bitstream error";
        case VP8_STATUS_UNSUPPORTED_FEATURE: return "a feature this decoder lacks";
        case VP8_STATUS_NOT_ENOUGH_DATA: return "cut short";
        default: return nullptr;
    }
}

bool webpFailed(VP8StatusCode status) {
    if (status == VP8_STATUS_OUT_OF_MEMORY) return failSet(FailCode::NoMemory, "out of memory");
    return pictureDamaged(PictureFormat::WebP, statusWords(status));
}

PictureReader* webpOpen(const std::uint8_t* data, std::size_t size, const PictureLimits& limits, PictureInfo& info) {
    WebPBitstreamFeatures features{};
    if (const VP8StatusCode status = WebPGetFeatures(data, size, &features); status != VP8_STATUS_OK)
        return webpFailed(status), nullptr;
    if (!pictureFits(limits, features.width, features.height)) return nullptr;
    auto* reader = new (std::nothrow) WebPReader{};
    if (!reader) return nullptr;
    reader->data = data;
    reader->size = size;
    reader->width = features.width;
    reader->height = features.height;
    reader->frameCount = 1;
    if (features.has_animation) {
        const WebPData whole{data, size};
        reader->demux = WebPDemux(&whole);  // null for a truncated or malformed container
        const std::uint32_t frames = reader->demux ? WebPDemuxGetI(reader->demux, WEBP_FF_FRAME_COUNT) : 0;
        if (frames == 0 || frames > static_cast<std::uint32_t>(limits.maxFrames) ||
            static_cast<std::int32_t>(WebPDemuxGetI(reader->demux, WEBP_FF_CANVAS_WIDTH)) != reader->width ||
            static_cast<std::int32_t>(WebPDemuxGetI(reader->demux, WEBP_FF_CANVAS_HEIGHT)) != reader->height) {
            if (frames > static_cast<std::uint32_t>(limits.maxFrames))
                failSet(FailCode::TooLarge, "%u frames; at most %d", frames, limits.maxFrames);
            else
                pictureDamaged(PictureFormat::WebP, frames ? "its frames disagree with its canvas" : "a malformed animation");
            WebPDemuxDelete(reader->demux);
            delete reader;
            return nullptr;
        }
        reader->frameCount = static_cast<std::int32_t>(frames);
    }
    info.width = reader->width;
    info.height = reader->height;
    info.sourceDepth = features.has_alpha ? 32 : 24;
    info.alpha = features.has_alpha != 0;
    info.frameCount = reader->frameCount;
    return reader;
}

bool webpFrameInfo(PictureReader* base, std::int32_t index, PictureFrame& frame) {
    const auto* reader = static_cast<WebPReader*>(base);
    if (index >= reader->frameCount) return false;
    if (!reader->demux) {
        frame = PictureFrame{0, 0, reader->width, reader->height, 0, FrameDisposal::Keep, false};
        return true;
    }
    WebPIterator it{};
    if (!WebPDemuxGetFrame(reader->demux, index + 1, &it)) return false;
    // The demuxer has checked that every frame lies inside the canvas.
    frame = PictureFrame{it.x_offset, it.y_offset, it.width, it.height, it.duration,
                         it.dispose_method == WEBP_MUX_DISPOSE_BACKGROUND ? FrameDisposal::Background : FrameDisposal::Keep,
                         it.blend_method == WEBP_MUX_BLEND};
    WebPDemuxReleaseIterator(&it);
    return true;
}

bool webpDecode(PictureReader* base, std::int32_t index, const RowTarget& target) {
    const auto* reader = static_cast<WebPReader*>(base);
    const std::uint8_t* bytes = reader->data;
    std::size_t size = reader->size;
    WebPIterator it{};
    if (reader->demux) {
        if (!WebPDemuxGetFrame(reader->demux, index + 1, &it)) return false;
        bytes = it.fragment.bytes;
        size = it.fragment.size;
    }
    WebPDecoderConfig config;
    bool ok = WebPInitDecoderConfig(&config) != 0;
    if (ok) {
        config.output.colorspace = target.bpp == 4 ? MODE_BGRA : MODE_BGR;
        config.output.is_external_memory = 1;
        config.output.u.RGBA.rgba = target.rows;
        config.output.u.RGBA.stride = target.pitch;
        config.output.u.RGBA.size = static_cast<std::size_t>(target.pitch) * static_cast<std::size_t>(target.height);
        config.options.flip = target.bottomUp ? 1 : 0;
        // The frame's own header must agree with the rectangle the rows were laid out for.
        VP8StatusCode status = WebPGetFeatures(bytes, size, &config.input);
        ok = status == VP8_STATUS_OK && config.input.width == target.width && config.input.height == target.height;
        if (ok) status = WebPDecode(bytes, size, &config);
        ok = ok && status == VP8_STATUS_OK;
        if (!ok) webpFailed(status == VP8_STATUS_OK ? VP8_STATUS_BITSTREAM_ERROR : status);
        WebPFreeDecBuffer(&config.output);  // external memory: frees nothing of the caller's
    }
    if (reader->demux) WebPDemuxReleaseIterator(&it);
    return ok;
}

void webpClose(PictureReader* base) {
    auto* reader = static_cast<WebPReader*>(base);
    WebPDemuxDelete(reader->demux);
    delete reader;
}

}  // namespace

const PictureCodec kWebPCodec{.open = webpOpen, .frameInfo = webpFrameInfo, .decode = webpDecode,
                              .close = webpClose};

}  // namespace oct::plat
