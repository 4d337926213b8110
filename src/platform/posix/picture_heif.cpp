// HEIF through libheif (AVIF has its own reader): the primary image alone, with the
// transformations its properties name (rotation, mirroring, clean aperture)
// applied as libheif applies them by default; no Exif orientation on top.
// A grid is decoded whole by libheif; a sequence gives its primary image.
// Samples over 8 bits become 8 bits by their high bits (v >> (bits - 8)),
// the rule of every other format here, so the decoder is asked for 16-bit
// interleaved samples then. Premultiplied alpha is made straight by the rule
// of platform/pictures.h (255 × c / a, left alone where a is 0 or 255).
#include <libheif/heif.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

#include "platform/fail_reason.h"
#include "platform/picture_failure.h"
#include "platform/pictures.h"
#include "platform/posix/picture.h"

namespace oct::plat {
namespace {

struct HeifReader : PictureReader {
    heif_context* context;
    heif_image_handle* handle;
    std::int32_t width, height;
    bool alpha, premultiplied;
    int bits;  // per sample as stored: 8 .. 16
};

// libheif's words for a failure, without the line ends some of them carry.
struct HeifWords {
    char text[256];
    explicit HeifWords(const heif_error& error) {
        std::snprintf(text, sizeof text, "%s", error.message ? error.message : "");
        for (char* p = text; *p; ++p)
            if (*p == '\n' || *p == '\r') *p = ' ';
        for (std::size_t n = std::strlen(text); n > 0 && text[n - 1] == ' '; --n) text[n - 1] = '\0';
    }
};

constexpr PictureFormat kFormat = PictureFormat::Heif;

bool heifFailed(const heif_error& error, const PictureLimits* limits = nullptr) {
    const HeifWords words(error);
    if (error.subcode == heif_suberror_Security_limit_exceeded && limits)
        return failSet(FailCode::TooLarge, "a %s picture over %d pixels a side (%s)", pictureFormatName(kFormat),
                       limits->maxSide, words.text);
    if (error.code == heif_error_Memory_allocation_error && error.subcode != heif_suberror_Security_limit_exceeded)
        return failSet(FailCode::NoMemory, "out of memory");
    return pictureDamaged(kFormat, words.text);
}

void heifRelease(HeifReader* reader) {
    if (reader->handle) heif_image_handle_release(reader->handle);
    if (reader->context) heif_context_free(reader->context);
    delete reader;
}

PictureReader* heifOpen(const std::uint8_t* data, std::size_t size, const PictureLimits& limits, PictureInfo& info) {
    auto* reader = new (std::nothrow) HeifReader{};
    if (!reader) return nullptr;
    reader->context = heif_context_alloc();
    if (!reader->context) return heifRelease(reader), nullptr;
    // Before the boxes are read: libheif refuses every image item (a grid's
    // tiles too) whose declared sides reach the limit, before any pixels exist.
    heif_context_set_maximum_image_size_limit(reader->context, limits.maxSide + 1);
    heif_error error = heif_context_read_from_memory_without_copy(reader->context, data, size, nullptr);
    if (error.code == heif_error_Ok) error = heif_context_get_primary_image_handle(reader->context, &reader->handle);
    if (error.code != heif_error_Ok) return heifFailed(error, &limits), heifRelease(reader), nullptr;
    // The sides after the transformations, as the decoded image has them.
    reader->width = heif_image_handle_get_width(reader->handle);
    reader->height = heif_image_handle_get_height(reader->handle);
    if (reader->width < 1 || reader->height < 1) {
        pictureDamaged(kFormat, "no pixels");
        return heifRelease(reader), nullptr;
    }
    if (!pictureFits(limits, reader->width, reader->height)) return heifRelease(reader), nullptr;
    reader->alpha = heif_image_handle_has_alpha_channel(reader->handle) != 0;
    reader->premultiplied = reader->alpha && heif_image_handle_is_premultiplied_alpha(reader->handle) != 0;
    reader->bits = std::clamp(heif_image_handle_get_luma_bits_per_pixel(reader->handle), 8, 16);
    info.width = reader->width;
    info.height = reader->height;
    info.sourceDepth = reader->bits * (reader->alpha ? 4 : 3);
    info.alpha = reader->alpha;
    info.frameCount = 1;
    return reader;
}


bool heifFrameInfo(PictureReader* base, std::int32_t index, PictureFrame& frame) {
    const auto* reader = static_cast<HeifReader*>(base);
    return pictureStillFrame(reader->width, reader->height, index, frame);
}


bool aomInstalled() {
    static const bool installed = [] {
        const heif_decoder_descriptor* decoders[8] = {};
        const int count = heif_get_decoder_descriptors(heif_compression_AV1, decoders, 8);
        for (int i = 0; i < count && i < 8; ++i) {
            const char* id = heif_decoder_descriptor_get_id_name(decoders[i]);
            if (id && std::strcmp(id, "aom") == 0) return true;
        }
        return false;
    }();
    return installed;
}

bool heifDecode(PictureReader* base, std::int32_t, const RowTarget& target) {
    const auto* reader = static_cast<HeifReader*>(base);
    const bool wide = reader->bits > 8;
    const int channels = reader->alpha ? 4 : 3;
    const heif_chroma chroma = wide ? (reader->alpha ? heif_chroma_interleaved_RRGGBBAA_LE : heif_chroma_interleaved_RRGGBB_LE)
                                    : (reader->alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB);
    heif_image* image = nullptr;
    heif_decoding_options* options = heif_decoding_options_alloc();
    if (!options) return failSet(FailCode::NoMemory, "out of memory");
    // libheif's dav1d plugin leaks a little of dav1d's memory on each damaged
    // AV1 stream; libaom's frees everything. Asked for whatever the brands
    // say, since a file branded HEIF may still hold AV1 items: libheif takes
    // the named plugin only for the streams it decodes (HEVC still goes to
    // its own). Where libaom is missing, the plugin libheif prefers.
    if (aomInstalled()) options->decoder_id = "aom";
    const heif_error error = heif_decode_image(reader->handle, &image, heif_colorspace_RGB, chroma, options);
    heif_decoding_options_free(options);
    if (error.code != heif_error_Ok) return heifFailed(error);
    int stride = 0;
    const std::uint8_t* plane = heif_image_get_plane_readonly(image, heif_channel_interleaved, &stride);
    const int planeBits = heif_image_get_bits_per_pixel_range(image, heif_channel_interleaved);
    bool ok = plane && stride > 0 && heif_image_get_width(image, heif_channel_interleaved) == target.width &&
              heif_image_get_height(image, heif_channel_interleaved) == target.height;
    if (!ok) pictureDamaged(kFormat, "the decoded image differs from its declared size");
    const int shift = wide ? std::clamp(planeBits, 9, 16) - 8 : 0;
    for (std::int32_t y = 0; ok && y < target.height; ++y) {
        const std::uint8_t* in = plane + static_cast<std::ptrdiff_t>(y) * stride;
        std::uint8_t* row = target.row(y);
        for (std::int32_t x = 0; x < target.width; ++x) {
            std::uint32_t s[4] = {0, 0, 0, 255};
            for (int c = 0; c < channels; ++c) {
                if (!wide) {
                    s[c] = in[static_cast<std::ptrdiff_t>(x) * channels + c];
                    continue;
                }
                const std::uint8_t* p = in + (static_cast<std::ptrdiff_t>(x) * channels + c) * 2;
                s[c] = std::min<std::uint32_t>(255, static_cast<std::uint32_t>(p[0] | p[1] << 8) >> shift);
            }
            if (reader->premultiplied)
                for (int c = 0; c < 3; ++c) s[c] = unpremultiply(s[c], s[3]);
            putPixel(row, x, target.bpp, static_cast<std::uint8_t>(s[2]), static_cast<std::uint8_t>(s[1]),
                     static_cast<std::uint8_t>(s[0]), static_cast<std::uint8_t>(s[3]));
        }
    }
    heif_image_release(image);
    return ok;
}

void heifClose(PictureReader* base) { heifRelease(static_cast<HeifReader*>(base)); }

}  // namespace

const PictureCodec kHeifCodec{.open = heifOpen, .frameInfo = heifFrameInfo, .decode = heifDecode, .close = heifClose};

}  // namespace oct::plat
