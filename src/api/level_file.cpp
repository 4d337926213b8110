#include "api/level_file.h"

#include <cstring>

namespace oct {

void lvlFillHeader(OctHeader& header, std::int32_t width, std::int32_t height, int alpha, std::int64_t levelsSize) {
    std::memcpy(header.magic, "OCTL", 4);
    header.width = width;
    header.height = height;
    header.alpha = alpha ? 1 : 0;
    header.rawSize = levelsSize;
}

bool lvlCheckHeader(const OctHeader& header) {
    std::uint32_t magic;
    std::memcpy(&magic, header.magic, 4);
    return magic == kLevelMagic && header.width >= 1 && header.height >= 1 && header.rawSize >= 1;
}

}  // namespace oct
