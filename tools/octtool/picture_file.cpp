#include "picture_file.h"

#include "bmp_file.h"
#include "convert.h"
#include "encode/png_writer.h"
#include "file_io.h"
#include "oct.h"
#include "platform/bitmaps.h"
#include "platform/fail_reason.h"
#include "reason.h"
#include "runtime/heap.h"

namespace oct::tool {

PictureOut toolPictureOut(std::string_view name) {
    return name.size() >= 4 && convertFoldCase(name.substr(name.size() - 4)) == ".png" ? PictureOut::Png
                                                                                         : PictureOut::Bmp;
}

bool toolWritePicture(std::string_view out, const std::uint8_t* rows, std::int32_t width, std::int32_t height,
                      std::int32_t pitch, std::int32_t depth, ToolContext& context, std::string& error) {
    if (toolPictureOut(out) == PictureOut::Bmp) return toolWriteBmp(out, rows, width, height, pitch, depth, context, error);
    const PixelRows pixels{rows, width, height, pitch, kEncodeBottomUp};
    const EncodeOptions options{.flags = 0, .depth = depth};
    if (out != kStandardStream) {
        // A file is saved by the encoder itself, through a temporary file;
        // a failure there has the same causes as any other save.
        plat::failBegin();
        if (imgPngEncode(toolName(out).c_str(), pixels, options, depth) == 1) return true;
        error = toolCannotWrite(out, "");
        return false;
    }
    const std::int64_t block = imgPngEncode(nullptr, pixels, options, depth);
    if (!block) return false;
    std::uint64_t size = 0;
    const std::uint8_t* bytes = imgPngBlockFile(block, size);
    const bool ok = writeOutput(out, bytes, static_cast<std::size_t>(size), context, error);
    memFree(reinterpret_cast<void*>(block));
    return ok;
}

bool toolSaveRebuiltPng(OctImage* record, const char16_t* fileName) {
    plat::BitmapDesc bm{};
    bool topDown = false;
    if (!record) return false;
    plat::failBegin();
    const std::int64_t handle = octHandle(record);
    if (!plat::bitmapIsDibSection(handle, &topDown) || !plat::bitmapDescribe(handle, bm) || !bm.bits) return false;
    const PixelRows rows{static_cast<const std::uint8_t*>(bm.bits), bm.width, bm.height, bm.widthBytes,
                         topDown ? 0 : kEncodeBottomUp};
    return imgPngEncode(fileName, rows, {.flags = 0, .depth = bm.bitsPerPixel}, bm.bitsPerPixel) == 1;
}

}  // namespace oct::tool
