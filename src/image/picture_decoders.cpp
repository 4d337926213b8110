#include "image/picture_decoders.h"

#include <cstring>

#include "image/decoder_registry.h"
#include "image/formats.h"
#include "image/frame_screen.h"
#include "image/image.h"
#include "image/limits.h"
#include "image/orientation.h"
#include "platform/fail_reason.h"
#include "platform/pictures.h"
#include "runtime/heap.h"
#include "runtime/module.h"

namespace oct {
namespace {

// ---------------------------------------------------------------------------
// One picture being decoded
// ---------------------------------------------------------------------------

// What the check learns and the frames need, on the main heap; the decoder's
// private area holds its address.
struct PictureState {
    plat::PictureReader* reader;
    std::uint32_t format;
    std::int32_t width, height;  // as stored, before turning upright
    int orientation;
    int bytesPerPixel;           // of the bitmaps: 3, or 4 with alpha
    std::int32_t next;           // the frame that decode writes next
    bool compose;                // frames are laid on a screen
    FrameScreen screen;          // with compose, made at the first frame
    std::uint32_t clearColour;   // what the screen shows where nothing is drawn, with alpha 0
    plat::PictureFrame shown;    // the frame laid last, whose disposal is still to come
    bool disposalPending;
    std::uint8_t* saved;         // the pixels under `shown` when its disposal is Previous
};

struct PicturePrivate {
    PictureState* state;
};

PictureState* stateOf(DecodeContext& context) { return decoderPrivate<PicturePrivate>(context).state; }

void freeState(PictureState* state) {
    if (!state) return;
    plat::pictureClose(state->reader);
    memMainFree(state->screen.pixels);
    memMainFree(state->saved);
    memMainFree(state);
}

// The orientation tag of the formats that carry one (JPEG, TIFF); 1 for the others.
int orientationOf(std::uint32_t format, std::span<const std::uint8_t> data) {
    if (format == kJpegFormat) return imgJpegOrientation(data);
    if (format == kTiffFormat) return imgTiffOrientation(data);
    return kOrientationUpright;
}

bool coversScreen(const plat::PictureFrame& f, const plat::PictureInfo& info) {
    return f.left == 0 && f.top == 0 && f.width == info.width && f.height == info.height;
}

// Whether the frames need a screen, and whether the first frame leaves some
// of it uncovered (transparent), which gives the picture alpha. Later frames
// show the screen as the frames before left it: a part cleared and not
// covered again is transparent there, black in a picture without alpha.
// False when a frame cannot be read or reaches past the screen. A frame that
// lay wholly off the screen comes empty and covers nothing.
bool surveyFrames(plat::PictureReader* reader, const plat::PictureInfo& info, bool& compose, bool& uncovered) {
    compose = info.frameCount > 1;
    uncovered = false;
    for (std::int32_t i = 0; i < info.frameCount; ++i) {
        plat::PictureFrame f{};
        if (!plat::pictureFrameInfo(reader, i, f) || f.width < 0 || f.height < 0 || f.left < 0 || f.top < 0 ||
            static_cast<std::int64_t>(f.left) + f.width > info.width ||
            static_cast<std::int64_t>(f.top) + f.height > info.height)
            return false;
        const bool covers = coversScreen(f, info);
        if (!covers) compose = true;
        if (!covers && i == 0) uncovered = true;
    }
    return true;
}

int checkPicture(DecodeContext& context, plat::PictureFormat format, std::uint32_t id) {
    using plat::FailCode;
    const std::span<const std::uint8_t> data(context.data, static_cast<std::size_t>(context.dataSize));
    if (imgSniffFormat(data) != id) return 0;
    const char* name = imgFormatName(id);
    const plat::PictureLimits limits{kMaxPictureSide, kMaxPictureBytes, kMaxPictureFrames, kUnbackedPictureBytes};
    plat::PictureInfo info{};
    plat::PictureReader* reader = plat::pictureOpen(format, data.data(), data.size(), limits, info);
    if (!reader) {
        // Asked only now: on Windows the question costs a codec's creation.
        if (!plat::pictureHasCodec(format))
            return imgFailNoCodec(name);
        // The codec said why where it could.
        return plat::failSet(FailCode::Damaged, "damaged %s", name);
    }
    auto refuse = [&] {
        plat::pictureClose(reader);
        return 0;
    };
    // Every size is checked here, from the headers, before any pixel buffer
    // exists; an animation's bitmaps together too, counting its screen as
    // one more (a still picture has no screen).
    if (info.width < 1 || info.height < 1 || info.frameCount < 1)
        return plat::failSet(FailCode::Damaged, "damaged %s (no pixels)", name), refuse();
    if (info.width > kMaxPictureSide || info.height > kMaxPictureSide)
        return plat::failSet(FailCode::TooLarge, "%d × %d pixels; at most %d a side", info.width, info.height,
                             kMaxPictureSide),
               refuse();
    if (info.frameCount > kMaxPictureFrames)
        return plat::failSet(FailCode::TooLarge, "%d frames; at most %d", info.frameCount, kMaxPictureFrames), refuse();
    bool compose = false, uncovered = false;
    if (!surveyFrames(reader, info, compose, uncovered))
        return plat::failSet(FailCode::Damaged, "damaged %s (a frame lies outside the picture)", name), refuse();
    const bool alpha = info.alpha || uncovered;
    const int depth = alpha ? 32 : 24;
    std::int64_t frameBytes = 0, allBytes = 0;
    if (!checkedMul<std::int64_t>(imgRowBytes(info.width, depth), info.height, frameBytes) ||
        frameBytes > kMaxDibSectionBytes)
        return plat::failSet(FailCode::TooLarge, "%d × %d pixels; at most %lld MB a picture", info.width,
                             info.height, static_cast<long long>(kMaxDibSectionBytes >> 20)),
               refuse();
    if (!checkedMul<std::int64_t>(frameBytes, info.frameCount + (compose ? 1 : 0), allBytes) ||
        allBytes > kMaxAnimationBytes)
        return plat::failSet(FailCode::TooLarge, "%d frames of %d × %d pixels; at most %lld MB of frames",
                             info.frameCount, info.width, info.height,
                             static_cast<long long>(kMaxAnimationBytes >> 20)),
               refuse();
    // A few frames' worth of bytes must not keep hundreds of screens: the
    // frames' bitmaps together are held to the data rule too.
    if (compose && !plat::pictureDataSufficesFor(format, allBytes / 4, data.size(), limits))
        return plat::failSet(FailCode::Damaged, "damaged %s (too few bytes for %d frames of %d × %d pixels)", name,
                             info.frameCount, info.width, info.height),
               refuse();

    // Animations never turn.
    const int orientation = compose ? kOrientationUpright : orientationOf(id, data);

    auto* state = static_cast<PictureState*>(memMainAlloc(sizeof(PictureState)));
    if (!state) return refuse();  // the heap said so
    *state = PictureState{};
    state->reader = reader;
    state->format = id;
    state->width = info.width;
    state->height = info.height;
    state->orientation = orientation;
    state->bytesPerPixel = depth / 8;
    state->compose = compose;
    state->clearColour = info.clearColour;
    decoderPrivateStart<PicturePrivate>(context).state = state;

    const bool swap = imgOrientationSwapsSides(orientation);
    context.width = swap ? info.height : info.width;
    context.height = swap ? info.width : info.height;
    context.depth = depth;
    context.sourceDepth = info.sourceDepth >= 1 && info.sourceDepth <= 255 ? info.sourceDepth : depth;
    context.frameCount = info.frameCount;
    return 1;
}

// A still picture: straight into the bitmap when it is upright, else through
// a buffer of its stored rows.
bool decodeStill(PictureState& s, std::uint8_t* bits, std::int64_t rowBytes, bool bottomUp) {
    if (s.orientation == kOrientationUpright)
        return plat::pictureDecode(s.reader, 0, bits, static_cast<std::int32_t>(rowBytes), s.bytesPerPixel, bottomUp);
    const std::int64_t pitch = static_cast<std::int64_t>(s.width) * s.bytesPerPixel;
    auto* stored = static_cast<std::uint8_t*>(memMainAlloc(pitch * s.height, false));
    if (!stored) return false;
    const bool ok =
        plat::pictureDecode(s.reader, 0, stored, static_cast<std::int32_t>(pitch), s.bytesPerPixel, false);
    if (ok) {
        // A top-down bitmap is the bottom-up one read from its last row backwards.
        const bool swap = imgOrientationSwapsSides(s.orientation);
        const std::int32_t outHeight = swap ? s.width : s.height;
        std::uint8_t* target = bottomUp ? bits : bits + (outHeight - 1) * rowBytes;
        imgTurnUpright(stored, s.width, s.height, pitch, s.bytesPerPixel, s.orientation, target,
                       bottomUp ? rowBytes : -rowBytes);
    }
    memMainFree(stored);
    return ok;
}

// The next frame of an animation, laid on the screen after the disposal of
// the one before; the bitmap gets the whole screen.
bool decodeComposed(PictureState& s, std::int32_t index, std::uint8_t* bits, std::int64_t rowBytes, bool bottomUp,
                    std::int32_t& delay) {
    if (!s.screen.pixels) {
        s.screen = {static_cast<std::uint8_t*>(memMainAlloc(static_cast<std::int64_t>(s.width) * s.height * 4)),
                    s.width, s.height, s.clearColour};
        if (!s.screen.pixels) return false;
        if (s.clearColour) imgClearRect(s.screen, {0, 0, s.width, s.height, 0, plat::FrameDisposal::Keep, false});
    }
    if (s.disposalPending) {
        if (s.shown.disposal == plat::FrameDisposal::Background) imgClearRect(s.screen, s.shown);
        if (s.shown.disposal == plat::FrameDisposal::Previous && s.saved) imgRestoreRect(s.screen, s.shown, s.saved);
        memMainFree(s.saved);
        s.saved = nullptr;
        s.disposalPending = false;
    }
    plat::PictureFrame frame{};
    if (!plat::pictureFrameInfo(s.reader, index, frame)) return false;
    frame = imgClipFrame(s.screen, frame);
    // A first frame is shown as it is stored, whatever its blend says: a
    // GIF's transparent pixels keep their palette colour (with alpha 0), as
    // viewers and Pillow keep it, and so do the colours a WebP encoder left
    // under alpha 0, as libwebp's animation decoder shows them. Laid over the
    // empty screen, blending would turn those pixels black.
    if (index == 0) frame.blend = false;
    const std::int64_t framePitch = static_cast<std::int64_t>(frame.width) * 4;
    if (frame.width > 0 && frame.height > 0) {
        if (frame.disposal == plat::FrameDisposal::Previous) {
            s.saved = static_cast<std::uint8_t*>(memMainAlloc(framePitch * frame.height, false));
            if (!s.saved) return false;
            imgSaveRect(s.screen, frame, s.saved);
        }
        auto* pixels = static_cast<std::uint8_t*>(memMainAlloc(framePitch * frame.height, false));
        if (!pixels) return false;
        const bool ok = plat::pictureDecode(s.reader, index, pixels, static_cast<std::int32_t>(framePitch), 4, false);
        if (ok) imgLayFrame(s.screen, frame, pixels, framePitch);
        memMainFree(pixels);
        if (!ok) return false;
    }
    s.shown = frame;
    s.disposalPending = true;
    delay = frame.delayMs;

    for (std::int32_t y = 0; y < s.height; ++y) {
        const std::uint8_t* from = s.screen.pixels + static_cast<std::int64_t>(y) * s.width * 4;
        std::uint8_t* to = bits + (bottomUp ? s.height - 1 - y : y) * rowBytes;
        if (s.bytesPerPixel == 4) {
            std::memcpy(to, from, static_cast<std::size_t>(s.width) * 4);
            continue;
        }
        for (std::int32_t x = 0; x < s.width; ++x, from += 4, to += 3) std::memcpy(to, from, 3);
    }
    return true;
}

int decodePicture(DecodeContext& context, std::uint8_t* bits, std::int32_t rowBytes, std::int32_t flags) {
    PictureState* s = stateOf(context);
    if (!s || !bits || rowBytes < static_cast<std::int64_t>(context.width) * s->bytesPerPixel) return 0;
    const std::int32_t index = s->next++;
    if (index >= context.frameCount) return 0;
    const bool bottomUp = (flags & kDecodeBottomUp) != 0;
    std::int32_t delay = 0;
    const bool ok = s->compose ? decodeComposed(*s, index, bits, rowBytes, bottomUp, delay)
                               : decodeStill(*s, bits, rowBytes, bottomUp);
    context.frameDelay = delay;
    return ok ? 1 : 0;
}

void cleanupPicture(DecodeContext& context) {
    freeState(stateOf(context));
    decoderPrivate<PicturePrivate>(context).state = nullptr;
}

template <plat::PictureFormat kFormat, std::uint32_t kId>
int check(DecodeContext& context) {
    return checkPicture(context, kFormat, kId);
}

template <plat::PictureFormat kFormat, std::uint32_t kId>
constexpr ImageDecoder pictureDecoder() {
    return {.check = check<kFormat, kId>, .decode = decodePicture, .cleanup = cleanupPicture, .id = kId};
}

constexpr ImageDecoder kPictureDecoders[] = {
    pictureDecoder<plat::PictureFormat::Png, kPngFormat>(),   pictureDecoder<plat::PictureFormat::Jpeg, kJpegFormat>(),
    pictureDecoder<plat::PictureFormat::Gif, kGifFormat>(),   pictureDecoder<plat::PictureFormat::Tiff, kTiffFormat>(),
    pictureDecoder<plat::PictureFormat::WebP, kWebpFormat>(), pictureDecoder<plat::PictureFormat::Heif, kHeifFormat>(),
    pictureDecoder<plat::PictureFormat::Avif, kAvifFormat>(), pictureDecoder<plat::PictureFormat::Jxl, kJxlFormat>(),
};

}  // namespace

void imgStartPictureCodecs() {
    bool all = true;
    for (const ImageDecoder& decoder : kPictureDecoders) all = imgRegisterDecoder(&decoder) && all;
    if (!all) modStepFailed();
}

bool imgDescribePicture(std::span<const std::uint8_t> data, PictureSummary& out) {
    out = PictureSummary{};
    if (data.empty() || data.size() > static_cast<std::size_t>(kMaxImageDataBytes)) return false;
    const std::uint32_t format = imgFindDecoder(data.data(), static_cast<std::int32_t>(data.size()));
    if (!format) return false;
    const DecodeContext* context = imgDecodeContext();
    out.format = format;
    out.width = context->width;
    out.height = context->height;
    out.depth = context->depth;
    out.sourceDepth = context->sourceDepth;
    out.frameCount = context->frameCount;
    out.orientation = orientationOf(format, data);
    imgEndDecode();
    return true;
}

}  // namespace oct
