#include "platform/picture_failure.h"

#include "platform/fail_reason.h"
#include "platform/pictures.h"

namespace oct::plat {

const char* pictureFormatName(PictureFormat format) {
    switch (format) {
        case PictureFormat::Png: return "PNG";
        case PictureFormat::Jpeg: return "JPEG";
        case PictureFormat::Gif: return "GIF";
        case PictureFormat::Tiff: return "TIFF";
        case PictureFormat::WebP: return "WebP";
        case PictureFormat::Heif: return "HEIF";
        case PictureFormat::Avif: return "AVIF";
        case PictureFormat::Jxl: return "JPEG XL";
    }
    return "picture";
}

bool pictureDamaged(PictureFormat format, const char* words) {
    if (!words || !words[0]) return failSet(FailCode::Damaged, "damaged %s", pictureFormatName(format));
    return failSet(FailCode::Damaged, "damaged %s (%s)", pictureFormatName(format), words);
}

}  // namespace oct::plat
