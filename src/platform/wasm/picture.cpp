// pictureOpen .. pictureClose in the WebAssembly module: it carries no picture
// codecs, since the browser (or Node's host) decodes PNG, JPEG, GIF, WebP and
// AVIF itself and hands over pixels. BMP files, icons and level files are
// read by the library's own readers, as everywhere; an icon image stored as
// PNG is refused with the same reason as any PNG.
#include "platform/fail_reason.h"
#include "platform/picture_failure.h"
#include "platform/pictures.h"

namespace oct::plat {

struct PictureReader {};

PictureReader* pictureOpen(PictureFormat format, const std::uint8_t*, std::size_t, const PictureLimits&,
                           PictureInfo& info) {
    info = PictureInfo{};
    // Reached for the PNG images inside icons; a picture file is refused
    // before, by its format (imgHasCodec).
    failSet(FailCode::NoCodec, "%s images, which this module has no codec for", pictureFormatName(format));
    return nullptr;
}

bool pictureFrameInfo(PictureReader*, std::int32_t, PictureFrame& frame) {
    frame = PictureFrame{};
    return false;
}

bool pictureDecode(PictureReader*, std::int32_t, std::uint8_t*, std::int32_t, std::int32_t, bool) { return false; }

void pictureClose(PictureReader*) {}

bool pictureHasCodec(PictureFormat) { return false; }

}  // namespace oct::plat
