#include "image/loader.h"

#include <cstring>

#include "image/decoder_registry.h"
#include "image/formats.h"
#include "image/icon_reader.h"
#include "image/image.h"
#include "image/limits.h"
#include "platform/bitmaps.h"
#include "platform/fail_reason.h"
#include "platform/files.h"
#include "platform/handles.h"
#include "runtime/heap.h"
#include "runtime/object_table.h"

namespace oct {
namespace {

void deleteBitmaps(const ImageFrame* frames, std::int32_t count) {
    for (std::int32_t i = 0; i < count; ++i) plat::objectDelete(frames[i].bitmap);
}

// Fills a loaded image's record: one frame held in `handle` unless the
// caller records more.
void describe(ImageObject& image, plat::Handle handle, std::int32_t width, std::int32_t height, std::int32_t depth,
              std::int32_t sourceDepth, std::uint32_t format) {
    image.handle = handle;
    image.width = width;
    image.height = height;
    image.depth = static_cast<std::uint8_t>(depth);
    image.sourceDepth = static_cast<std::uint8_t>(sourceDepth);
    image.format = format;
    image.frameCount = 1;
}

// What the icon reader made of a block of data.
enum class IconResult {
    NotAnIcon,  // not an icon file, or no icon could be made of it
    Loaded,     // the record holds the icon
    Failed,     // an icon was made but cannot be described; it is destroyed again
};

// Fills the record from an icon built from the data.

IconResult loadIcon(ImageObject& image, const std::uint8_t* data, std::int32_t size) {
    const plat::Handle icon = imgIconFromMemory(data, static_cast<std::size_t>(size));
    if (!icon) return IconResult::NotAnIcon;
    // The record describes the icon's colour bitmap. A monochrome icon has
    // none — only a mask of twice its height — so it has no size or depth
    // that an image of this library could state, and it is refused.
    plat::BitmapDesc colour{};
    if (!plat::iconDescribe(icon, colour) || colour.width <= 0 || colour.height <= 0 || colour.bitsPerPixel == 0 ||
        colour.bitsPerPixel > 255) {
        plat::objectDelete(icon);
        return IconResult::Failed;
    }
    describe(image, icon, colour.width, colour.height, colour.bitsPerPixel, colour.bitsPerPixel, kIconFormat);
    return IconResult::Loaded;
}

// Why no decoder took the data, where the bytes tell: a known format's
// decoder refused it (its own reason stands, else it is damaged), or it is a
// picture no decoder here reads. Data that is none of these gets no reason:
// it may still be a level file.
void explainRefusal(const std::uint8_t* data, std::int32_t size) {
    const std::span<const std::uint8_t> bytes(data, static_cast<std::size_t>(size));
    if (const std::uint32_t format = imgSniffFormat(bytes)) {
        const char* name = imgFormatName(format);
        if (!imgHasCodec(format))
            imgFailNoCodec(name);
        else
            plat::failSet(plat::FailCode::Damaged, "damaged %s", name);
    }
}

// Fills the record through the decoder that accepts the data; false when
// none does or a frame cannot be decoded (nothing is left then). With
// LoadFrames::First only frame 0 is decoded, and the image is a still one.
bool loadDecoded(ImageObject& image, const std::uint8_t* data, std::int32_t size, LoadFrames wanted) {
    const std::uint32_t format = imgFindDecoder(data, size);
    if (!format) {
        explainRefusal(data, size);
        return false;
    }
    DecodeContext& ctx = *imgDecodeContext();
    const std::int32_t frameCount = wanted == LoadFrames::All ? ctx.frameCount : 1;

    plat::Handle handle = 0;
    ImageFrame* frames = nullptr;
    std::int32_t firstDelay = 0;
    if (frameCount > 1) {
        frames = static_cast<ImageFrame*>(memMainAlloc(static_cast<std::int64_t>(frameCount) * sizeof(ImageFrame)));
        std::int32_t made = 0;
        if (frames) {
            for (; made < frameCount; ++made) {
                frames[made].bitmap = imgDecodeFrame();
                if (!frames[made].bitmap) break;
                frames[made].delay = ctx.frameDelay;
            }
        }
        // All frames or none: a load never yields an image with frames missing.
        if (frames && made == frameCount) {
            handle = frames[0].bitmap;
            firstDelay = frames[0].delay;
        } else if (frames) {
            deleteBitmaps(frames, made);
            memMainFree(frames);
            frames = nullptr;
        }
    } else {
        handle = imgDecodeFrame();
    }
    imgEndDecode();
    if (!handle) return plat::failSet(plat::FailCode::Damaged, "damaged %s", imgFormatName(format));

    describe(image, handle, ctx.width, ctx.height, ctx.depth, ctx.sourceDepth, format);
    if (frames) image.frameCount = frameCount;
    image.firstFrameDelay = firstDelay;
    image.frames = frames;
    return true;
}

// Offers the open file to each decoder that reads files directly, in
// registration order, putting it back at its start after each refusal: the
// new image's id (AnyId) or handle (a number) when one read it, else 0 with
// nothing made and the id untouched. `rewound` turns false when the file
// could not be put back, and the load must then fail.
std::int64_t loadDirect(std::int64_t id, plat::File* file, std::int64_t size, bool& rewound) {
    ObjectTable* table = imgTable();
    for (const ImageDecoder* decoder : imgDecoders()) {
        if (!decoder->readFile) continue;
        DirectPicture picture{};
        if (table && decoder->readFile(file, size, picture)) {
            auto* image = static_cast<ImageObject*>(objNewObject(table, id));
            if (!image) {
                plat::objectDelete(picture.bitmap);
                return 0;
            }
            describe(*image, picture.bitmap, picture.width, picture.height, picture.depth, picture.sourceDepth,
                     decoder->id);
            return id == AnyId ? reinterpret_cast<std::int64_t>(image) : static_cast<std::int64_t>(picture.bitmap);
        }
        if (plat::fileSeek(file, 0, plat::SeekFrom::Begin) != 0) {
            rewound = false;
            return 0;
        }
    }
    return 0;
}

}  // namespace

std::int64_t imgLoadImage(std::int64_t id, const char16_t* fileName, LoadFrames frames) {
    if (!fileName) return 0;
    plat::File* file = plat::fileOpen(fileName, plat::kFileRead, plat::kShareRead, plat::FileCreation::OpenExisting);
    if (!file) return 0;
    const std::int64_t size = plat::fileSize(file);
    if (size == 0) plat::failSet(plat::FailCode::UnknownFormat, "an empty file");
    if (size > kMaxImageDataBytes)
        plat::failSet(plat::FailCode::TooLarge, "a file of %lld MB; at most %lld MB are read",
                      static_cast<long long>(size >> 20), static_cast<long long>(kMaxImageDataBytes >> 20));
    if (size > 0 && size <= kMaxImageDataBytes) {
        bool rewound = true;
        const std::int64_t direct = loadDirect(id, file, size, rewound);
        if (direct || !rewound) {
            plat::fileClose(file);
            return direct;
        }
    }
    // Files of kMaxImageDataBytes or more (4 GiB and beyond among them) are
    // refused before anything is allocated; so is an empty one.
    auto* buffer =
        size > 0 && size <= kMaxImageDataBytes ? static_cast<std::uint8_t*>(memMainAlloc(size, false)) : nullptr;
    const bool complete = buffer && plat::fileReadAll(file, buffer, size) == size;
    if (buffer && !complete) plat::failSet(plat::FailCode::ReadFailed, "the file changed or could not be read");
    plat::fileClose(file);
    const std::int64_t result = complete ? imgLoadImageMemory(id, buffer, size, frames) : 0;
    memMainFree(buffer);
    return result;
}

std::int64_t imgLoadImageMemory(std::int64_t id, const void* data, std::int64_t size, LoadFrames frames) {
    ObjectTable* table = imgTable();
    if (!table || !data || size <= 0 || size > kMaxImageDataBytes) return 0;
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    const auto size32 = static_cast<std::int32_t>(size);

    // A number's previous image is freed here, whatever happens next.
    auto* image = static_cast<ImageObject*>(objNewObject(table, id));
    if (!image) return 0;
    const std::int64_t imageId = id == AnyId ? reinterpret_cast<std::int64_t>(image) : id;

    // A block of data is icon or decoder input, never both: an icon file
    // whose icon cannot be used is not handed on to the decoders.
    IconResult icon = loadIcon(*image, bytes, size32);
    const bool loaded =
        icon == IconResult::Loaded || (icon == IconResult::NotAnIcon && loadDecoded(*image, bytes, size32, frames));
    if (!loaded) {
        objReleaseObject(table, imageId);
        return 0;
    }
    return id == AnyId ? imageId : static_cast<std::int64_t>(image->handle);
}

}  // namespace oct
