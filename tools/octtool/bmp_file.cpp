#include "bmp_file.h"

#include "encode/encoder.h"
#include "file_io.h"
#include "image/image.h"
#include "runtime/heap.h"

namespace oct::tool {

std::int64_t toolEncodeBmp(const char16_t* fileName, const std::uint8_t* rows, std::int32_t width,
                           std::int32_t height, std::int32_t pitch, std::int32_t depth) {
    return imgEncode(fileName, {rows, width, height, pitch, kEncodeBottomUp}, depth, kBmpFormat,
                     {.flags = 0, .depth = depth});
}

bool toolWriteBmp(std::string_view out, const std::uint8_t* rows, std::int32_t width, std::int32_t height,
                  std::int32_t pitch, std::int32_t depth, ToolContext& context, std::string& error) {
    const std::int64_t block = toolEncodeBmp(nullptr, rows, width, height, pitch, depth);
    if (!block) return false;
    const std::int64_t size = kBmpHeadersSize + imgRowBytes(width, depth) * height;
    const bool ok =
        writeOutput(out, reinterpret_cast<const void*>(block), static_cast<std::size_t>(size), context, error);
    memFree(reinterpret_cast<void*>(block));
    return ok;
}

std::string toolStoredBmpReason(const StoredBmp& bmp) {
    char text[kStoredBmpReasonSize];
    imgStoredBmpReason(bmp, text);
    return text;
}

}  // namespace oct::tool
