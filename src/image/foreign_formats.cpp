#include "image/foreign_formats.h"

#include <cstring>

#include "platform/fail_reason.h"

namespace oct {
namespace {

// An ISO base media file starts with a box of type "ftyp": size 4 (big-endian),
// type 4, major brand 4, minor version 4, then compatible brands of 4 each.
constexpr std::size_t kFtypBrandsAt = 16;
constexpr std::uint32_t kMaxFtypSize = 4096;

bool brandIs(const std::uint8_t* brand, const char* name) { return std::memcmp(brand, name, 4) == 0; }

// What the ftyp box's brands say the file is: AVIF wins over the HEIF
// brands that an AVIF file lists too (mif1).
const char* ftypFormat(std::span<const std::uint8_t> data) {
    if (data.size() < 12 || std::memcmp(data.data() + 4, "ftyp", 4) != 0) return nullptr;
    const std::uint32_t size = static_cast<std::uint32_t>(data[0]) << 24 | static_cast<std::uint32_t>(data[1]) << 16 |
                               static_cast<std::uint32_t>(data[2]) << 8 | data[3];
    if (size < 16 || size > kMaxFtypSize) return nullptr;
    const std::size_t end = size < data.size() ? size : data.size() - data.size() % 4;
    static constexpr const char* kAvif[] = {"avif", "avis"};
    static constexpr const char* kHeif[] = {"heic", "heix", "heim", "heis", "mif1", "msf1", "hevc", "hevx"};
    bool heif = false;
    auto look = [&](const std::uint8_t* brand) {
        for (const char* b : kAvif)
            if (brandIs(brand, b)) return true;
        for (const char* b : kHeif)
            if (brandIs(brand, b)) heif = true;
        return false;
    };
    if (look(data.data() + 8)) return "AVIF";
    for (std::size_t at = kFtypBrandsAt; at + 4 <= end; at += 4)
        if (look(data.data() + at)) return "AVIF";
    return heif ? "HEIF" : nullptr;
}

constexpr std::uint8_t kJxlCodestream[2] = {0xFF, 0x0A};
constexpr std::uint8_t kJxlContainer[12] = {0, 0, 0, 0x0C, 'J', 'X', 'L', ' ', 0x0D, 0x0A, 0x87, 0x0A};

}  // namespace

const char* imgForeignFormatName(std::span<const std::uint8_t> data) {
    if (data.size() >= sizeof kJxlContainer && std::memcmp(data.data(), kJxlContainer, sizeof kJxlContainer) == 0)
        return "JPEG XL";
    if (data.size() >= sizeof kJxlCodestream && std::memcmp(data.data(), kJxlCodestream, sizeof kJxlCodestream) == 0)
        return "JPEG XL";
    return ftypFormat(data);
}

bool imgFailNoCodec(const char* formatName) {
    // Said as it is read: "an AVIF", "a HEIF".
    const char* article = formatName && (formatName[0] == 'A' || formatName[0] == 'E' || formatName[0] == 'I' ||
                                         formatName[0] == 'O' || formatName[0] == 'U')
                              ? "an"
                              : "a";
    return plat::failReplace(plat::FailCode::NoCodec, "%s %s picture, which this system has no codec for", article,
                             formatName ? formatName : "unnamed");
}

}  // namespace oct
