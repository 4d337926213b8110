#include "image/orientation.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace oct {
namespace {

using Bytes = std::vector<std::uint8_t>;

void put16(Bytes& b, std::uint32_t v, bool be) {
    if (be) b.insert(b.end(), {static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v)});
    else b.insert(b.end(), {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8)});
}
void put32(Bytes& b, std::uint32_t v, bool be) {
    put16(b, be ? v >> 16 : v & 0xFFFF, be);
    put16(b, be ? v & 0xFFFF : v >> 16, be);
}

struct Entry {
    std::uint16_t tag, type;
    std::uint32_t count, value;
};

// A TIFF structure with one directory of these entries.
Bytes tiff(bool be, std::initializer_list<Entry> entries, std::uint16_t magic = 42) {
    Bytes b = be ? Bytes{'M', 'M'} : Bytes{'I', 'I'};
    put16(b, magic, be);
    put32(b, 8, be);
    put16(b, static_cast<std::uint32_t>(entries.size()), be);
    for (const Entry& e : entries) {
        put16(b, e.tag, be);
        put16(b, e.type, be);
        put32(b, e.count, be);
        if (e.type == 3) {
            put16(b, e.value, be);
            put16(b, 0, be);
        } else {
            put32(b, e.value, be);
        }
    }
    put32(b, 0, be);
    return b;
}

// SOI, an APP0, an APP1 with `exif` behind "Exif\0\0", then SOS.
Bytes jpeg(const Bytes& exif, bool withId = true) {
    Bytes b{0xFF, 0xD8, 0xFF, 0xE0, 0, 4, 'J', 'F'};
    Bytes payload = withId ? Bytes{'E', 'x', 'i', 'f', 0, 0} : Bytes{'X', 'M', 'P', 0, 0, 0};
    payload.insert(payload.end(), exif.begin(), exif.end());
    b.insert(b.end(), {0xFF, 0xE1});
    put16(b, static_cast<std::uint32_t>(payload.size() + 2), true);
    b.insert(b.end(), payload.begin(), payload.end());
    b.insert(b.end(), {0xFF, 0xDA, 0, 2});
    return b;
}

TEST(Orientation, TiffTagInEitherByteOrder) {
    for (bool be : {false, true}) {
        for (std::uint32_t v = 1; v <= 8; ++v) {
            EXPECT_EQ(imgTiffOrientation(tiff(be, {{256, 3, 1, 640}, {274, 3, 1, v}})), static_cast<int>(v)) << v;
            EXPECT_EQ(imgJpegOrientation(jpeg(tiff(be, {{274, 3, 1, v}}))), static_cast<int>(v)) << v;
        }
        EXPECT_EQ(imgTiffOrientation(tiff(be, {{274, 4, 1, 6}})), 6) << "LONG is read too";
    }
}

TEST(Orientation, AnythingUnreadableMeansUpright) {
    const Bytes six = tiff(false, {{274, 3, 1, 6}});
    const struct {
        const char* name;
        Bytes data;
    } cases[] = {
        {"no tag", tiff(false, {{256, 3, 1, 6}})},
        {"value 0", tiff(false, {{274, 3, 1, 0}})},
        {"value 9", tiff(true, {{274, 3, 1, 9}})},
        {"count 2", tiff(false, {{274, 3, 2, 6}})},
        {"ASCII type", tiff(false, {{274, 2, 1, 6}})},
        {"BigTIFF magic", tiff(false, {{274, 3, 1, 6}}, 43)},
        {"bad byte order", Bytes{'I', 'M', 42, 0, 8, 0, 0, 0}},
        {"directory past the end", Bytes{'I', 'I', 42, 0, 0xFF, 0xFF, 0, 0}},
        {"cut inside the entry", Bytes(six.begin(), six.begin() + 16)},
        {"empty", Bytes{}},
    };
    for (const auto& c : cases) EXPECT_EQ(imgTiffOrientation(c.data), 1) << c.name;

    EXPECT_EQ(imgJpegOrientation(jpeg(six, false)), 1) << "APP1 that is not EXIF";
    Bytes cut = jpeg(six);
    cut.resize(20);
    EXPECT_EQ(imgJpegOrientation(cut), 1) << "segment cut short";
    Bytes afterScan{0xFF, 0xD8, 0xFF, 0xDA, 0, 2};
    const Bytes app1 = jpeg(six);
    afterScan.insert(afterScan.end(), app1.begin() + 2, app1.end());
    EXPECT_EQ(imgJpegOrientation(afterScan), 1) << "EXIF after the first scan is not looked for";
    EXPECT_EQ(imgJpegOrientation(Bytes{0xFF, 0xD8, 0xFF, 0xE1, 0, 1}), 1) << "length below 2";
    EXPECT_EQ(imgJpegOrientation(six), 1) << "not a JPEG";
}

// A 3 × 2 picture of one-byte pixels, top row "a b c", bottom row "d e f",
// turned by each orientation and read back top row first (the target is
// bottom-up).
TEST(Orientation, EachValueTurnsThePictureUpright) {
    const std::uint8_t picture[6] = {'a', 'b', 'c', 'd', 'e', 'f'};
    const char* upright[9] = {nullptr, "abc/def", "cba/fed", "fed/cba", "def/abc", "ad/be/cf", "da/eb/fc", "fc/eb/da", "cf/be/ad"};
    for (int o = 1; o <= 8; ++o) {
        std::uint8_t target[6] = {};
        const bool swap = imgOrientationSwapsSides(o);
        const int w = swap ? 2 : 3, h = swap ? 3 : 2;
        imgTurnUpright(picture, 3, 2, 3, 1, o, target, w);
        std::string shown;
        for (int y = h - 1; y >= 0; --y) {
            shown.append(reinterpret_cast<const char*>(target + y * w), static_cast<std::size_t>(w));
            if (y) shown += '/';
        }
        EXPECT_EQ(shown, upright[o]) << "orientation " << o;
    }
}

}  // namespace
}  // namespace oct
