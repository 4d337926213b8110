#include "image/icon_reader.h"

#include <cstring>

#include "image/byte_reader.h"
#include "image/limits.h"
#include "platform/bitmaps.h"
#include "platform/handles.h"
#include "platform/icon_image.h"
#include "runtime/heap.h"

namespace oct {
namespace {

// Icon directory, 6 bytes, little-endian (docs/formats/icon.md#directory)
//  off size
//   0   2   reserved         must be 0
//   2   2   type             1 = icon (2 = cursor, refused)
//   4   2   entry count      at least 1
//   6  16×n entries
constexpr std::size_t kIconDirectorySize = 6;
constexpr std::uint16_t kIconType = 1;

// Icon directory entry, 16 bytes, little-endian (docs/formats/icon.md#entry)
//  off size
//   0   1   width            compared with entry 0; 0 means 256
//   1   1   height           compared with entry 0; 0 means 256
//   2   1   colour count     not read
//   3   1   reserved         not read
//   4   2   planes           not read
//   6   2   bits per pixel   the choice prefers the highest
//   8   4   bytes in image
//  12   4   offset of image from file start
constexpr std::size_t kIconEntrySize = 16;

// Image header of an entry (docs/formats/icon.md#image): the fields read
// from the start of the copied image to ask for its size. A PNG image has
// other bytes there; they are read all the same (docs/formats/icon.md#png).
//  off size
//   4   4   width
//   8   4   height           colour rows and mask rows together: twice the icon's
//  14   2   bits per pixel   16: no second attempt at the default size
constexpr std::uint16_t kNoDefaultRetryDepth = 16;

std::uint16_t entrySide(std::uint8_t byte) { return byte ? byte : 256; }

// A PNG image (docs/formats/icon.md#png) must be the size its directory
// entry gives: the entry is what the choice went by, and a stream that claims
// more than the directory can describe is refused before any decoder sizes
// its buffers by it.
bool pngMatchesEntry(const IconResource& r) {
    std::uint32_t width, height;
    return !plat::iconPngSides(r.bytes, r.size, width, height) || (width == r.width && height == r.height);
}

struct Entry {
    std::uint8_t width;
    std::uint8_t height;
    std::uint16_t bitCount;
    std::uint32_t bytes;
    std::uint32_t offset;
};

Entry readEntry(ByteReader& in) {
    Entry e{};
    e.width = in.u8();
    e.height = in.u8();
    in.skip(4);  // colour count, reserved, planes: the choice does not use them
    e.bitCount = in.u16();
    e.bytes = in.u32();
    e.offset = in.u32();
    return e;
}

// The directory's entry count once its header is known good, else 0; `in`
// is then at entry 0.
std::uint16_t readDirectory(ByteReader& in) {
    const std::uint16_t reserved = in.u16();
    const std::uint16_t type = in.u16();
    const std::uint16_t count = in.u16();
    static_assert(kIconDirectorySize == 6);  // the three words just read
    if (!in.ok() || reserved != 0 || type != kIconType) return 0;
    // The whole directory must be there: every entry takes part in the choice.
    if (in.remaining() < std::size_t{count} * kIconEntrySize) return 0;
    return count;
}

}  // namespace

IconResource* imgReadIconDirectory(const std::uint8_t* data, std::size_t size) {
    ByteReader in(data, size);
    const std::uint16_t count = readDirectory(in);
    if (count == 0) return nullptr;

    const Entry first = readEntry(in);
    Entry best = first;
    std::uint32_t bestIndex = 0;
    for (std::uint32_t i = 1; i < count; ++i) {
        const Entry e = readEntry(in);
        if (e.width == first.width && e.height == first.height && e.bitCount > best.bitCount) {
            best = e;
            bestIndex = i;
        }
    }
    if (!in.ok()) return nullptr;

    std::uint64_t end = 0;
    if (best.bytes == 0 || !checkedAdd<std::uint64_t>(best.offset, best.bytes, end) || end > size) return nullptr;
    ByteReader image(data, size);
    image.seek(best.offset);
    const auto bytes = image.take(best.bytes);
    if (!image.ok()) return nullptr;

    auto* resource = static_cast<IconResource*>(memMainAlloc(sizeof(IconResource)));
    if (!resource) return nullptr;
    resource->bytes = static_cast<std::uint8_t*>(memMainAlloc(best.bytes, false));
    if (!resource->bytes) {
        memMainFree(resource);
        return nullptr;
    }
    std::memcpy(resource->bytes, bytes.data(), bytes.size());
    resource->size = best.bytes;
    resource->entry = bestIndex;
    resource->width = entrySide(best.width);
    resource->height = entrySide(best.height);
    return resource;
}

bool imgIconEntryAt(const std::uint8_t* data, std::size_t size, std::uint32_t index, IconEntryInfo& out) {
    ByteReader in(data, size);
    if (index >= readDirectory(in)) return false;
    in.skip(std::uint64_t{index} * kIconEntrySize);
    out.width = entrySide(in.u8());
    out.height = entrySide(in.u8());
    out.colourCount = in.u8();
    in.skip(1);  // reserved
    out.planes = in.u16();
    out.bitCount = in.u16();
    out.bytes = in.u32();
    out.offset = in.u32();
    return in.ok();
}

void imgFreeIconResource(IconResource* resource) {
    if (!resource) return;
    memMainFree(resource->bytes);
    memMainFree(resource);
}

plat::Handle imgIconFromMemory(const std::uint8_t* data, std::size_t size) {
    IconResource* resource = imgReadIconDirectory(data, size);
    if (!resource) return 0;
    if (!pngMatchesEntry(*resource)) {
        imgFreeIconResource(resource);
        return 0;
    }

    // The desired size comes from the image's own header: an image shorter
    // than those fields reads 0 for what is missing.
    ByteReader header(resource->bytes, resource->size);
    header.skip(4);
    const std::int32_t width = header.i32();
    const std::int32_t height = header.i32() / 2;
    header.skip(2);
    const std::uint16_t bitCount = header.u16();

    plat::Handle icon = plat::iconFromResource(resource->bytes, resource->size, width, height);
    if (!icon && bitCount != kNoDefaultRetryDepth)
        icon = plat::iconFromResourceDefault(resource->bytes, resource->size);
    imgFreeIconResource(resource);
    return icon;
}

}  // namespace oct
