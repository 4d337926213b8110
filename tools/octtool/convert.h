// What the two forms of octtool convert share: one file converted through
// the exports, and the many-input form that convert.cpp hands over to.
#pragma once

#include <string>
#include <string_view>

#include "tool.h"

namespace oct::tool {

inline constexpr std::string_view kConvertName = "convert";

// Why a picture or level file could not be loaded, with the library's reason
// of the calling thread's last failure: the one-line message.
std::string convertReadFailure(std::string_view in);
// What octtool convert writes: the level file, or the bitmap rebuilt from
// the levels as a BMP or a PNG.
enum class ConvertOut { Levels, Bmp, Png };

// What the name asks for: .bmp a BMP, .png a PNG (letter case aside),
// anything else a level file.
ConvertOut convertOutFor(std::string_view out);

// Why a save to `out` failed, with the library's reason: the one-line message.
std::string convertWriteFailure(std::string_view out);

// `text` with ASCII letters made lower case: how the tool tells the endings
// .bmp and .png of a name. (Output names are compared by plat::nameFoldCase.)
std::string convertFoldCase(std::string_view text);

// Loads the file `in` with octLoad and saves it to the file `out` as `kind`
// asks: the level file or the BMP with octSave, the PNG from octHandle's
// bitmap. "" when it worked, else the one-line reason. Uses a record of its
// own, so threads may call it at once.
std::string convertFile(std::string_view in, std::string_view out, ConvertOut kind);

// Whether the arguments ask for the many-input form: any of its options
// (-o, -j, --bmp, --png, or -- ending the options) is among them.
bool convertIsManyForm(CommandArgs args);

// octtool convert [-j N] [--bmp | --png] [--skip-existing] -o DIR IN... (convert_many.cpp).
int convertMany(CommandArgs args, ToolContext& context);

}  // namespace oct::tool
