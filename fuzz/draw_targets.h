// The property that the drawing-script fuzz target checks, as a plain
// function: fuzz/draw_script_fuzz.cpp calls it, and tests/fuzz replays the
// seed corpus through it under every compiler. False when the property is
// broken; a crash or sanitizer report is a failure too.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "bmp_file.h"
#include "draw_script.h"
#include "image/bmp_rows.h"
#include "image/image.h"
#include "platform/bitmaps.h"
#include "platform/files.h"
#include "runtime/heap.h"

namespace oct::fuzz {

// Input: any bytes, read as a drawing script, optionally followed by a NUL
// byte and the bytes of a picture file: those are then the files p.bmp and
// p.ico in a folder of their own, the current folder while the script runs,
// so the image commands read them through the stored-rows reader and the
// icon reader. A script that parses runs on
// a 37 × 23 picture (24 bits when the last byte's lowest bit is clear, else
// 32), and nothing it draws may reach the zero padding at the end of each
// 24-bit row: every primitive clips to the drawing area. A script that does
// not parse names a line of the input; one whose step fails (an image file
// that cannot be read, a font that cannot be made) names that step's line.
// Every command of a script that parses is listed in the help. A 32-bit
// result written as a BMP file by the tool's encoder call reads back, by
// the stored-rows reader, as the same rows.
inline bool checkDrawScript(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::size_t nul = text.find('\0');
    if (nul != std::string_view::npos) {
        const std::filesystem::path folder = std::filesystem::temp_directory_path() /
                                             ("oct-draw-fuzz-" + std::to_string(plat::processId()));
        std::error_code ec;
        std::filesystem::create_directories(folder, ec);
        for (const char* name : {"p.bmp", "p.ico"}) {
            std::ofstream out(folder / name, std::ios::binary | std::ios::trunc);
            out.write(text.data() + nul + 1, static_cast<std::streamsize>(size - nul - 1));
        }
        const std::filesystem::path before = std::filesystem::current_path(ec);
        std::filesystem::current_path(folder, ec);
        const bool ok = checkDrawScript(data, nul);
        std::filesystem::current_path(before, ec);
        return ok;
    }
    tool::ScriptError error;
    const auto steps = tool::parseDrawScript(text, error);
    if (!steps) {
        std::int32_t lines = 1;
        for (char ch : text) lines += ch == '\n';
        return error.line >= 1 && error.line <= lines && !error.message.empty();
    }
    // The help that octtool draw --help prints names every command the
    // parser took, each at the start of its own line.
    static const std::string help = "\n" + tool::drawScriptHelp();
    for (const tool::ScriptStep& step : *steps)
        if (help.find("\n  " + std::string(step.command->name) + " ") == std::string::npos) return false;
    const std::int32_t depth = size > 0 && (data[size - 1] & 1) ? 32 : 24;
    const std::int64_t image = tool::drawScriptImage(*steps, 37, 23, depth, error);
    if (!image) return error.line >= 1 && !error.message.empty();
    plat::BitmapDesc bm{};
    bool ok = plat::bitmapDescribe(imgImageHandle(image), bm);
    const auto* bytes = static_cast<const std::uint8_t*>(bm.bits);
    const std::int32_t used = 37 * (depth / 8);
    for (std::int32_t row = 0; ok && row < bm.height; ++row)
        for (std::int32_t i = used; ok && i < bm.widthBytes; ++i) ok = bytes[row * bm.widthBytes + i] == 0;
    if (ok && depth == 32) {
        const std::int64_t block = tool::toolEncodeBmp(nullptr, bytes, 37, 23, bm.widthBytes, 32);
        const auto rowsSize = static_cast<std::size_t>(bm.widthBytes) * 23;
        const auto* file = reinterpret_cast<const std::uint8_t*>(block);
        StoredBmp back;
        ok = file && imgFindStoredBmpRows({file, static_cast<std::size_t>(tool::kBmpHeadersSize) + rowsSize}, back) &&
             back.width == 37 && back.height == 23 && back.bitsPerPixel == 32 && !back.topDown &&
             back.rows.size() == rowsSize && std::equal(back.rows.begin(), back.rows.end(), bytes);
        if (block) memFree(reinterpret_cast<void*>(block));
    }
    imgFreeImage(image);
    return ok;
}

}  // namespace oct::fuzz
