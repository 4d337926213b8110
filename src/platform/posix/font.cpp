// Fonts on Linux: fontconfig chooses the face for a LOGFONT-like description
// (face name, weight, italic) and FreeType opens it, sized as GDI sizes a
// font: a negative height is the em height in pixels, a positive one the
// cell height (ascent + descent), 0 a default cell of 16 pixels.
//
// The layer keeps its own fontconfig configuration and FreeType library, so
// that a host program's own use of either is never disturbed. Both are made
// on first use. FreeType's library is not safe for two threads creating or
// deleting faces at once, so that, and every fontconfig call, runs under one
// lock; a face in use is guarded by its font's own lock (text.cpp).
#include "platform/posix/font.h"

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_TRUETYPE_TABLES_H

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <optional>
#include <string>
#include <string_view>

#include "platform/fail_inject.h"
#include "platform/fonts.h"
#include "platform/handles.h"
#include "platform/utf8.h"

namespace oct::plat {
namespace {

using posix::Font;

// The largest em or cell height a font gets, in pixels: far beyond any text
// that fits a picture, and small enough that glyph coordinates stay well
// inside FreeType's ranges.
constexpr std::int64_t kMaxFontPixels = 16384;
// The cell height for a description of height 0.
constexpr std::int64_t kDefaultCellPixels = 16;
constexpr std::int32_t kStockCellHeight = 16;

std::mutex gFaceLock;
FT_Library gLibrary = nullptr;  // under gFaceLock
FcConfig* gConfig = nullptr;    // under gFaceLock
Handle gStock = 0;              // under gFaceLock
std::size_t gFontsAlive = 0;    // under gFaceLock

// Starts FreeType and fontconfig when they are not running; under gFaceLock.
bool startLocked() {
    if (!gLibrary && FT_Init_FreeType(&gLibrary) != 0) gLibrary = nullptr;
    if (!gConfig) gConfig = FcInitLoadConfigAndFonts();
    return gLibrary && gConfig;
}

std::int64_t roundDiv(std::int64_t a, std::int64_t b) { return (a + b / 2) / b; }

// The face that fontconfig chose: its file and index in that file.
struct Choice {
    std::string file;
    int index = 0;
};

std::string faceNameUtf8(const LogFont& d) {
    std::size_t n = 0;
    while (n < std::size(d.faceName) && d.faceName[n]) ++n;
    const std::u16string_view name(d.faceName, n);
    std::string out(utf8LengthOf(name), '\0');
    utf8Encode(name, out.data());
    return out;
}

// The best outline face for the description; under gFaceLock. Bitmap-only
// faces are passed over: text is drawn from outlines at any size and angle.
std::optional<Choice> chooseLocked(const LogFont& d) {
    // The strings are made where a failure to allocate them (bad_alloc) leaves
    // no fontconfig object behind.
    const std::string family = faceNameUtf8(d);
    FcPattern* pattern = FcPatternCreate();
    if (!pattern) return std::nullopt;
    if (!family.empty()) FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(family.c_str()));
    const int weight = d.weight <= 0 ? kFontWeightNormal : std::min(d.weight, 1000);
    FcPatternAddInteger(pattern, FC_WEIGHT, FcWeightFromOpenType(weight));
    FcPatternAddInteger(pattern, FC_SLANT, d.italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
    FcConfigSubstitute(gConfig, pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);
    FcResult result = FcResultNoMatch;
    FcFontSet* set = FcFontSort(gConfig, pattern, FcFalse, nullptr, &result);
    FcPatternDestroy(pattern);
    if (!set) return std::nullopt;
    const FcChar8* chosen = nullptr;
    int chosenIndex = 0;
    for (int i = 0; i < set->nfont && !chosen; ++i) {
        FcBool outline = FcFalse;
        FcChar8* file = nullptr;
        int index = 0;
        if (FcPatternGetBool(set->fonts[i], FC_OUTLINE, 0, &outline) != FcResultMatch || !outline) continue;
        if (FcPatternGetString(set->fonts[i], FC_FILE, 0, &file) != FcResultMatch) continue;
        if (FcPatternGetInteger(set->fonts[i], FC_INDEX, 0, &index) != FcResultMatch) index = 0;
        chosen = file;
        chosenIndex = index;
    }
    std::optional<Choice> choice;
    try {
        if (chosen) choice = Choice{reinterpret_cast<const char*>(chosen), chosenIndex};
    } catch (const std::bad_alloc&) {
        choice.reset();
    }
    FcFontSetDestroy(set);
    return choice;
}

// Sizes the face for the description and sets the font's cell. The cell is
// measured by the face's Windows metrics (usWinAscent, usWinDescent), which
// bound its glyphs and which GDI sizes by; a face without them uses its
// ascender and descender.
bool sizeFace(Font& font) {
    FT_Face face = font.face;
    const LogFont& d = font.description;
    const std::int64_t unitsPerEm = face->units_per_EM > 0 ? face->units_per_EM : 2048;
    const auto* os2 = static_cast<const TT_OS2*>(FT_Get_Sfnt_Table(face, FT_SFNT_OS2));
    std::int64_t up = face->ascender, down = -static_cast<std::int64_t>(face->descender);
    if (os2 && os2->version != 0xFFFF && os2->usWinAscent + os2->usWinDescent > 0) {
        up = os2->usWinAscent;
        down = os2->usWinDescent;
    }
    if (up < 0 || down < 0 || up + down <= 0) {
        up = unitsPerEm * 4 / 5;
        down = unitsPerEm - up;
    }
    std::int64_t em26;  // the em height, 26.6 pixels
    if (d.height < 0) {
        const std::int64_t em = std::min(-static_cast<std::int64_t>(d.height), kMaxFontPixels);
        em26 = em * 64;
        font.ascent = static_cast<std::int32_t>(roundDiv(up * em, unitsPerEm));
        font.descent = static_cast<std::int32_t>(roundDiv(down * em, unitsPerEm));
    } else {
        const std::int64_t cell = d.height == 0 ? kDefaultCellPixels : std::min<std::int64_t>(d.height, kMaxFontPixels);
        em26 = roundDiv(cell * 64 * unitsPerEm, up + down);
        font.ascent = static_cast<std::int32_t>(roundDiv(up * cell, up + down));
        font.descent = static_cast<std::int32_t>(cell - font.ascent);
    }
    em26 = std::clamp<std::int64_t>(em26, 64, kMaxFontPixels * 64);
    // A width other than 0 is the average character width: the face is
    // stretched horizontally to it.
    std::int64_t width26 = 0;
    if (d.width != 0 && os2 && os2->version != 0xFFFF && os2->xAvgCharWidth > 0) {
        const std::int64_t width = std::min(std::abs(static_cast<std::int64_t>(d.width)), kMaxFontPixels);
        width26 = std::clamp<std::int64_t>(roundDiv(width * 64 * unitsPerEm, os2->xAvgCharWidth), 64,
                                           kMaxFontPixels * 64);
    }
    return FT_Set_Char_Size(face, width26, em26, 72, 72) == 0;
}

// A font for the description, registered; 0 on failure.
Handle fontMake(const LogFont& d, bool stock) {
    auto* font = new (std::nothrow) Font;
    if (!font) return 0;
    font->kind = HandleKind::Font;
    font->description = d;
    font->stock = stock;
    {
        std::lock_guard guard(gFaceLock);
        if (!startLocked()) {
            delete font;
            return 0;
        }
        // fontconfig's answer comes back as strings, which may fail to
        // allocate: no exception leaves the layer, and the font is given up.
        std::optional<Choice> choice;
        try {
            choice = chooseLocked(d);
        } catch (const std::bad_alloc&) {
            choice.reset();
        }
        FT_Face face = nullptr;
        if (!choice || FT_New_Face(gLibrary, choice->file.c_str(), choice->index, &face) != 0) {
            delete font;
            return 0;
        }
        font->face = face;
        ++gFontsAlive;
    }
    // Bitmap-only faces were refused by fontconfig's answer; a file that
    // claimed outlines and has none is refused here.
    if (!FT_IS_SCALABLE(font->face) || !sizeFace(*font)) {
        delete font;
        return 0;
    }
    const bool faceItalic = (font->face->style_flags & FT_STYLE_FLAG_ITALIC) != 0;
    font->syntheticItalic = d.italic && !faceItalic;
    font->italic = faceItalic || font->syntheticItalic;
    const Handle h = posix::objectRegister(font);
    if (!h) delete font;
    return h;
}

}  // namespace

posix::Font::~Font() {
    if (!face) return;
    std::lock_guard guard(gFaceLock);
    FT_Done_Face(face);
    --gFontsAlive;
}

Font* posix::fontOf(Handle handle) { return static_cast<Font*>(objectLookup(handle, HandleKind::Font)); }

void posix::fontsRelease() {
    Handle stock;
    {
        std::lock_guard guard(gFaceLock);
        stock = gStock;
        gStock = 0;
    }
    if (stock) objectRemove(stock);
    std::lock_guard guard(gFaceLock);
    if (gFontsAlive) return;  // a font still in use keeps its library
    if (gConfig) FcConfigDestroy(gConfig);
    if (gLibrary) FT_Done_FreeType(gLibrary);
    gConfig = nullptr;
    gLibrary = nullptr;
}

namespace {

// At the process's exit too, for programs linked with the static core, which
// have no unloading: fontconfig keeps its patterns by offsets that leak
// checkers cannot follow, so a configuration still alive would be reported.
struct ReleaseAtExit {
    ~ReleaseAtExit() { posix::fontsRelease(); }
} gReleaseAtExit;

}  // namespace

Handle fontCreate(const LogFont& description) {
    if (failThisCall(FailKind::Font)) return 0;
    return fontMake(description, false);
}

Handle fontStock() {
    {
        std::lock_guard guard(gFaceLock);
        if (gStock) return gStock;
    }
    LogFont d{};
    d.height = kStockCellHeight;
    d.weight = kFontWeightBold;
    const std::u16string_view name = u"DejaVu Sans";
    std::copy(name.begin(), name.end(), d.faceName);
    const Handle made = fontMake(d, true);
    if (!made) return 0;
    Handle winner;
    {
        std::lock_guard guard(gFaceLock);
        if (!gStock) gStock = made;
        winner = gStock;
    }
    if (winner != made) posix::objectRemove(made);  // another thread made it first
    return winner;
}

std::int32_t fontDescribe(Handle handle, LogFont& out) {
    const Font* font = posix::fontOf(handle);
    if (!font) return 0;
    out = font->description;
    return static_cast<std::int32_t>(sizeof(LogFont));
}

}  // namespace oct::plat
