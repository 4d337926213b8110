// The properties that the image fuzz targets check, as plain functions: the
// libFuzzer entries in this folder call them, and tests/fuzz replays the seed
// corpus through them under every compiler. Each returns false when its
// property is broken; a crash or sanitizer report is a failure too. Neither
// needs the platform: the BMP check decodes into plain memory, the icon check
// stops at the chosen image's bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "image/bmp_reader.h"
#include "image/bmp_rows.h"
#include "image/icon_reader.h"
#include "image/image.h"

namespace oct::fuzz {

// The stored-rows reader on the same bytes: rows it finds lie inside the
// data, are exactly row length × rows long, and copy into a buffer of just
// that size; and the decoder accepts every file whose rows it finds, its
// reserved words aside (only the stored-rows reader overlooks them).
inline bool checkStoredBmpRows(const std::vector<std::uint8_t>& file) {
    StoredBmp bmp;
    if (!imgFindStoredBmpRows(file, bmp)) return bmp.refusal != StoredBmpRefusal::kNone && bmp.rows.empty();
    const std::size_t total = static_cast<std::size_t>(bmp.rowBytes) * static_cast<std::size_t>(bmp.height);
    if ((bmp.bitsPerPixel != 24 && bmp.bitsPerPixel != 32) || bmp.width <= 0 || bmp.height <= 0 ||
        bmp.rowBytes != imgRowBytes(bmp.width, bmp.bitsPerPixel) || bmp.rows.size() != total ||
        bmp.rows.data() < file.data() || bmp.rows.data() + total > file.data() + file.size())
        return false;
    if (bmp.width * static_cast<std::int64_t>(bmp.height) <= (std::int64_t{1} << 22)) {
        std::vector<std::uint8_t> rows(total);
        imgCopyStoredBmpRows(bmp, rows.data(), bmp.rowBytes);
    }
    if (file[6] | file[7] | file[8] | file[9]) return true;
    BmpDescription description;
    return imgBmpDescribe(file, description) && !description.refusal;
}

// Input: any bytes, read as a BMP file. An accepted file states a size that
// the decoder then fills exactly: the output buffer is just large enough, so
// the sanitizers see any stray write. Pictures of more than 2^22 pixels are
// checked but not decoded, to keep each run small. The last byte's lowest
// bit picks the target orientation (set: top-down), so both are exercised.
//
// The description that octtool info prints comes from the same headers: it
// refuses exactly what the check refuses, names a pixel layout for what the
// check accepts, and gives the same size and source bit count. The stored
// rows keep to checkStoredBmpRows.
inline bool checkBmp(const std::uint8_t* data, std::size_t size) {
    if (size == 0 || size > INT32_MAX) return true;
    std::vector<std::uint8_t> file(data, data + size);  // exactly its size
    if (!checkStoredBmpRows(file)) return false;
    BmpDescription description;
    const bool described = imgBmpDescribe({file.data(), file.size()}, description);
    DecodeContext context{};
    context.data = file.data();
    context.dataSize = static_cast<std::int32_t>(size);
    context.frameCount = 1;
    if (!imgBmpCheck(context)) return !described || description.refusal != nullptr;
    if (!described || description.refusal || !description.pixels || description.width != context.width ||
        (description.height < 0 ? -description.height : description.height) != context.height ||
        description.bitCount != context.sourceDepth)
        return false;
    if (context.width <= 0 || context.height <= 0 || context.depth != 24 || context.sourceDepth < 1 ||
        context.sourceDepth > 32)
        return false;
    const std::int64_t pixels = static_cast<std::int64_t>(context.width) * context.height;
    if (pixels > (std::int64_t{1} << 22)) {
        imgBmpCleanup(context);
        return true;
    }
    const std::int64_t rowBytes = imgRowBytes(context.width, 24);
    std::vector<std::uint8_t> bits(static_cast<std::size_t>(rowBytes * context.height));
    const std::int32_t flags = data[size - 1] & 1 ? 0 : kDecodeBottomUp;
    const int decoded = imgBmpDecode(context, bits.data(), static_cast<std::int32_t>(rowBytes), flags);
    imgBmpCleanup(context);
    return decoded == 1;
}

// Input: any bytes, read as an icon file. When a directory is accepted, the
// copy is exactly the chosen entry's bytes, and the choice keeps to its rule:
// the entry has entry 0's width and height, no entry of that size has a
// higher bit count, and none before it has the same bit count. The entries
// that octtool info lists are the directory's bytes as stored.
inline bool checkIconDirectory(const std::uint8_t* data, std::size_t size) {
    std::vector<std::uint8_t> file(data, data + size);  // exactly its size
    auto u16 = [&](std::size_t at) { return static_cast<std::uint32_t>(file[at] | file[at + 1] << 8); };
    auto u32 = [&](std::size_t at) { return u16(at) | u16(at + 2) << 16; };
    IconEntryInfo info;
    for (std::uint32_t i = 0; imgIconEntryAt(file.data(), file.size(), i, info); ++i) {
        const std::size_t e = 6 + 16 * static_cast<std::size_t>(i);
        if (e + 16 > size || i >= u16(4) || info.width != (file[e] ? file[e] : 256) ||
            info.height != (file[e + 1] ? file[e + 1] : 256) || info.colourCount != file[e + 2] ||
            info.planes != u16(e + 4) || info.bitCount != u16(e + 6) || info.bytes != u32(e + 8) ||
            info.offset != u32(e + 12))
            return false;
    }
    IconResource* resource = imgReadIconDirectory(file.data(), file.size());
    if (!resource) return true;
    const std::uint32_t count = u16(4);
    bool ok = resource->entry < count && 6 + 16 * static_cast<std::size_t>(count) <= size;
    if (ok) {
        const std::size_t chosen = 6 + 16 * static_cast<std::size_t>(resource->entry);
        const std::uint32_t bytes = u32(chosen + 8), offset = u32(chosen + 12);
        ok = file[chosen] == file[6] && file[chosen + 1] == file[7] && bytes == resource->size &&
             std::uint64_t{offset} + bytes <= size && std::memcmp(resource->bytes, file.data() + offset, bytes) == 0;
        for (std::uint32_t i = 0; ok && i < count; ++i) {
            const std::size_t e = 6 + 16 * static_cast<std::size_t>(i);
            if (file[e] != file[6] || file[e + 1] != file[7]) continue;
            ok = u16(e + 6) < u16(chosen + 6) || (u16(e + 6) == u16(chosen + 6) && i >= resource->entry);
        }
    }
    imgFreeIconResource(resource);
    return ok;
}

}  // namespace oct::fuzz
