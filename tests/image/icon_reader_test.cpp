#include "image/icon_reader.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <filesystem>
#include <vector>

#include "image/bmp_reader.h"
#include "image/image.h"
#include "image/loader.h"
#include "image_bytes.h"
#include "platform/bitmaps.h"
#include "platform/handles.h"
#include "test_files.h"

namespace oct {
namespace {

using octtest::Bytes;
using octtest::IconEntryFields;
using octtest::iconImage;
using octtest::makeIcon;

// Each entry's image carries its own index as the fill byte, so the copy
// tells which entry was chosen.
std::vector<IconEntryFields> entries(std::initializer_list<std::array<int, 3>> sizes) {
    std::vector<IconEntryFields> out;
    std::uint8_t index = 0;
    for (const auto& s : sizes) {
        out.push_back({static_cast<std::uint8_t>(s[0]), static_cast<std::uint8_t>(s[1]),
                       static_cast<std::uint16_t>(s[2]),
                       iconImage(s[0] ? s[0] : 256, static_cast<std::uint16_t>(s[2]), index)});
        ++index;
    }
    return out;
}

TEST(IconReader, ChoosesTheDeepestEntryOfTheFirstEntrysSize) {
    struct Case {
        const char* name;
        std::vector<IconEntryFields> entries;
        std::uint32_t chosen;
    };
    const Case cases[] = {
        {"32x32 at 4, 16x16 at 32, 32x32 at 32", entries({{32, 32, 4}, {16, 16, 32}, {32, 32, 32}}), 2},
        {"16x16 at 8 first, the rest 32x32 at 32", entries({{16, 16, 8}, {32, 32, 32}, {32, 32, 32}}), 0},
        {"two 48x48 at 32", entries({{48, 48, 32}, {48, 48, 32}}), 0},
        {"deeper then shallower", entries({{32, 32, 8}, {32, 32, 32}, {32, 32, 24}}), 1},
        {"same width, other height", entries({{32, 32, 4}, {32, 16, 32}}), 0},
        {"one entry", entries({{16, 16, 1}}), 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes file = makeIcon(c.entries);
        IconResource* resource = imgReadIconDirectory(file.data(), file.size());
        ASSERT_NE(resource, nullptr);
        EXPECT_EQ(resource->entry, c.chosen);
        EXPECT_EQ(Bytes(resource->bytes, resource->bytes + resource->size), c.entries[c.chosen].image);
        imgFreeIconResource(resource);
    }
}

TEST(IconReader, RefusesWhatIsNotAnIconInsideTheData) {
    const Bytes good = makeIcon(entries({{16, 16, 32}, {16, 16, 8}}));
    auto patched = [&](std::size_t at, std::vector<std::uint8_t> value) {
        Bytes b = good;
        for (std::size_t i = 0; i < value.size(); ++i) b[at + i] = value[i];
        return b;
    };
    struct Case {
        const char* name;
        Bytes file;
    };
    const Case cases[] = {
        {"cursor (type 2)", makeIcon(entries({{16, 16, 32}}), 2)},
        {"type 0", makeIcon(entries({{16, 16, 32}}), 0)},
        {"reserved word set", patched(0, {1})},
        {"no entries", makeIcon({})},
        {"shorter than the directory head", Bytes{0, 0, 1, 0}},
        {"entries past the end", Bytes(good.begin(), good.begin() + 6 + 16 + 8)},
        {"more entries claimed than present", patched(4, {200})},
        {"image past the end", patched(6 + 8, {0xFF, 0xFF, 0, 0})},
        {"image offset past the end", patched(6 + 12, {0, 0, 0, 1})},
        {"offset + size wraps around", patched(6 + 8, {0x20, 0, 0, 0, 0xF0, 0xFF, 0xFF, 0xFF})},
        {"image of 0 bytes", patched(6 + 8, {0, 0, 0, 0})},
        // The chosen entry is out of bounds; the reader does not fall back to another.
        {"deepest entry out of bounds", patched(6 + 16 + 6, {64, 0, 0xFF, 0xFF, 0xFF, 0x7F})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes exact = c.file;
        EXPECT_EQ(imgReadIconDirectory(exact.data(), exact.size()), nullptr);
        EXPECT_EQ(imgIconFromMemory(exact.data(), exact.size()), 0u);
    }
}

// Icons are built by the platform; where it cannot build one from a plain
// 32-bit image, the icon loading cases cannot be observed.
bool platformBuildsIcons() {
    const Bytes image = iconImage(16, 32);
    const plat::Handle icon = plat::iconFromResource(image.data(), image.size(), 16, 16);
    if (icon) plat::objectDelete(icon);
    return icon != 0;
}

TEST(IconLoading, IconFilesLoadAsIconImages) {
    if (!platformBuildsIcons()) GTEST_SKIP() << "this build's platform layer builds no icons";
    const Bytes file = makeIcon(entries({{32, 32, 4}, {16, 16, 32}, {32, 32, 32}}));
    const std::int64_t id = imgLoadImageMemory(AnyId, file.data(), static_cast<std::int64_t>(file.size()));
    ASSERT_NE(id, 0);
    const ImageObject* image = imgGetImage(id);
    EXPECT_EQ(image->format, kIconFormat);
    EXPECT_EQ(image->width, 32);
    EXPECT_EQ(image->height, 32);
    EXPECT_EQ(image->depth, 32);
    EXPECT_EQ(image->sourceDepth, 32);
    EXPECT_EQ(image->frameCount, 1);
    EXPECT_EQ(plat::handleKind(image->handle), plat::HandleKind::Icon);
    imgFreeImage(id);
    EXPECT_EQ(imgIsImage(id), 0);
}

TEST(IconLoading, CorpusIconsLoadAndCursorsDoNot) {
    if (!platformBuildsIcons()) GTEST_SKIP() << "this build's platform layer builds no icons";
    const std::filesystem::path dir = std::filesystem::path(OCT_CORPUS_DIR) / "ico";
    for (const char* file : {"32bpp_8x8.ico", "8bpp_8x8.ico", "bmp-32bpp-alpha.ico", "bmp-24bpp-mask.ico",
                             "multiple_entries_with_different_bit_depth.ico", "icon.ico"}) {
        SCOPED_TRACE(file);
        const std::int64_t id = imgLoadImage(AnyId, (dir / file).u16string().c_str());
        ASSERT_NE(id, 0);
        EXPECT_EQ(imgGetImage(id)->format, kIconFormat);
        EXPECT_GT(imgGetImage(id)->depth, 1);
        EXPECT_EQ(imgGetImage(id)->depth, imgGetImage(id)->sourceDepth);
        imgFreeImage(id);
    }
    // A cursor is not an icon, and the BMP decoder refuses it too.
    EXPECT_EQ(imgLoadImage(AnyId, (dir / "cursor.cur").u16string().c_str()), 0);
}

TEST(IconLoading, PngEntriesMustBeTheSizeOfTheirDirectoryEntry) {
    if (!platformBuildsIcons()) GTEST_SKIP() << "this build's platform layer builds no icons";
    const Bytes good = octtest::readFile(std::filesystem::path(OCT_CORPUS_DIR) / "ico" / "png-32bpp-alpha.ico");
    ASSERT_GT(good.size(), 22u);
    ASSERT_EQ(good[6], 32);  // the directory says 32 × 32, as does the stream's header
    const auto withSides = [&](std::uint8_t width, std::uint8_t height) {
        Bytes b = good;
        b[6] = width;
        b[7] = height;
        return b;
    };
    const struct {
        const char* name;
        Bytes file;
        bool loads;
    } cases[] = {
        {"sides as in the stream", good, true},
        {"directory narrower", withSides(16, 32), false},
        {"directory lower", withSides(32, 31), false},
        {"directory 256 (0)", withSides(0, 0), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::int64_t id = imgLoadImageMemory(AnyId, c.file.data(), static_cast<std::int64_t>(c.file.size()));
        EXPECT_EQ(id != 0, c.loads);
        if (id) imgFreeImage(id);
    }
}

TEST(IconLoading, MonochromeIconsLoadWithAColourBitmapOrNotAtAll) {
    if (!platformBuildsIcons()) GTEST_SKIP() << "this build's platform layer builds no icons";
    // A 1-bit icon may be built without a colour bitmap, leaving no size or
    // depth to record: then the load fails and the number is left empty.
    const Bytes file = makeIcon(entries({{16, 16, 1}}));
    ASSERT_NE(imgCreateImage(3, 2, 2, 24), 0);
    const std::int64_t handle = imgLoadImageMemory(3, file.data(), static_cast<std::int64_t>(file.size()));
    plat::BitmapDesc colour{};
    const plat::Handle icon = plat::iconFromResource(file.data() + 22, file.size() - 22, 16, 16);
    const bool hasColour = plat::iconDescribe(icon, colour);
    plat::objectDelete(icon);
    if (hasColour) {
        ASSERT_NE(handle, 0);
        EXPECT_EQ(imgGetImage(3)->format, kIconFormat);
        EXPECT_EQ(imgGetImage(3)->width, 16);
        EXPECT_EQ(imgGetImage(3)->depth, colour.bitsPerPixel);
        imgFreeImage(3);
    } else {
        EXPECT_EQ(handle, 0);
        EXPECT_EQ(imgIsImage(3), 0);
    }
}

}  // namespace
}  // namespace oct
