#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <new>
#include <sstream>
#include <string>
#include <vector>

#include "image/image.h"
#include "image/loader.h"
#include "image/resample.h"
#include "platform/bitmaps.h"
#include "platform/fail_inject.h"
#include "test_files.h"
#include "tool.h"
#include "tools/octtool/tool_fixture.h"

namespace oct {
namespace {


void put16(Bytes& b, std::uint32_t v) {
    b.push_back(static_cast<std::uint8_t>(v));
    b.push_back(static_cast<std::uint8_t>(v >> 8));
}
void put32(Bytes& b, std::uint32_t v) {
    put16(b, v);
    put16(b, v >> 16);
}

// A BMP file with a 40-byte header, `extra` bytes (bit fields) after it, then the rows as given.
Bytes bmp(std::int32_t w, std::int32_t h, int bits, std::uint32_t compression, const Bytes& extra, const Bytes& rows) {
    Bytes b{'B', 'M'};
    const auto offset = static_cast<std::uint32_t>(54 + extra.size());
    put32(b, offset + static_cast<std::uint32_t>(rows.size()));
    put32(b, 0);
    put32(b, offset);
    put32(b, 40);
    put32(b, static_cast<std::uint32_t>(w));
    put32(b, static_cast<std::uint32_t>(h));
    put16(b, 1);
    put16(b, static_cast<std::uint32_t>(bits));
    put32(b, compression);
    put32(b, static_cast<std::uint32_t>(rows.size()));
    for (int i = 0; i < 4; ++i) put32(b, 0);
    b.insert(b.end(), extra.begin(), extra.end());
    b.insert(b.end(), rows.begin(), rows.end());
    return b;
}

Bytes pattern(std::size_t n) {
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>(i * 37 + 11);
    return b;
}

class OctToolResize : public OctTool {
protected:
    // The file the command must write: the header and imgResample's rows.
    static Bytes expected(const Bytes& packed, std::int32_t sw, std::int32_t sh, std::int32_t dw, std::int32_t dh) {
        Bytes rows(static_cast<std::size_t>(dw) * dh * 4);
        EXPECT_EQ(imgResample(packed.data(), sw, sh, rows.data(), dw, dh, 32), 1);
        return bmp(dw, dh, 32, 0, {}, rows);
    }
};

TEST_F(OctToolResize, ScalesThirtyTwoBitRowsWithTheirAlpha) {
    const Bytes rows = pattern(5 * 3 * 4);
    const Bytes masks{0, 0, 0xFF, 0, 0, 0xFF, 0, 0, 0xFF, 0, 0, 0};
    struct Case {
        const char* name;
        Bytes file;
        std::int32_t dw, dh;
    } cases[] = {
        {"enlarge", bmp(5, 3, 32, 0, {}, rows), 12, 7},
        {"shrink", bmp(5, 3, 32, 0, {}, rows), 2, 1},
        {"wide and short", bmp(5, 3, 32, 0, {}, rows), 9, 2},
        {"bit fields", bmp(5, 3, 32, 3, masks, rows), 7, 7},
    };
    for (const Case& k : cases) {
        write("in.bmp", k.file);
        const std::string size = std::to_string(k.dw) + "x" + std::to_string(k.dh);
        ASSERT_EQ(run({"resize", size, path("in.bmp"), path("out.bmp")}), 0) << k.name << err();
        EXPECT_EQ(read("out.bmp"), expected(rows, 5, 3, k.dw, k.dh)) << k.name;
    }
}

TEST_F(OctToolResize, TwentyFourBitTopDownBecomesOpaqueBottomUp) {
    // 2 × 2, 24 bits, top-down: rows of 6 bytes padded to 8.
    const Bytes top{1, 2, 3, 4, 5, 6, 0, 0}, bottom{7, 8, 9, 10, 11, 12, 0, 0};
    Bytes rows = top;
    rows.insert(rows.end(), bottom.begin(), bottom.end());
    write("in.bmp", bmp(2, -2, 24, 0, {}, rows));
    ASSERT_EQ(run({"resize", "3x3", path("in.bmp"), path("out.bmp")}), 0) << err();
    const Bytes packed{7, 8, 9, 255, 10, 11, 12, 255, 1, 2, 3, 255, 4, 5, 6, 255};  // bottom row first
    EXPECT_EQ(read("out.bmp"), expected(packed, 2, 2, 3, 3));
}

// Any picture the library loads is taken, as loaded: a PNG with alpha keeps
// it, and a damaged one is a one-line failure that names its format.
TEST_F(OctToolResize, TakesAnyPictureTheLibraryLoads) {
    const Bytes png = octtest::readFile(std::filesystem::path(OCT_CORPUS_DIR) / "png/pngsuite/basn6a08.png");
    const std::int64_t image = imgLoadImageMemory(AnyId, png.data(), static_cast<std::int64_t>(png.size()));
    ASSERT_NE(image, 0);
    plat::BitmapDesc bm{};
    ASSERT_TRUE(plat::bitmapDescribe(imgImageHandle(image), bm));
    ASSERT_EQ(bm.bitsPerPixel, 32);
    const auto* bits = static_cast<const std::uint8_t*>(bm.bits);
    const Bytes packed(bits, bits + static_cast<std::size_t>(bm.widthBytes) * bm.height);
    imgFreeImage(image);
    write("in.png", png);
    ASSERT_EQ(run({"resize", "9x5", path("in.png"), path("out.bmp")}), 0) << err();
    EXPECT_EQ(read("out.bmp"), expected(packed, 32, 32, 9, 5));

    write("cut.png", Bytes(png.begin(), png.begin() + 100));
    EXPECT_EQ(run({"resize", "9x5", path("cut.png"), path("cut.bmp")}), 1);
    // The codec's own words follow in brackets, and differ by system.
    EXPECT_EQ(err().rfind("octtool resize: cannot read '" + path("cut.png") + "': damaged PNG", 0), 0u) << err();
    EXPECT_TRUE(oneLineMessage()) << err();
    EXPECT_FALSE(exists("cut.bmp"));
}

TEST_F(OctToolResize, RefusalsGiveOneLineAndNoFile) {
    const Bytes rows = pattern(4 * 4);
    const Bytes oddMasks{0xFF, 0, 0, 0, 0, 0xFF, 0, 0, 0, 0, 0xFF, 0};
    write("odd.bmp", bmp(2, 2, 32, 3, oddMasks, rows));
    write("eight.bmp", bmp(4, 4, 8, 0, Bytes(1024), rows));
    write("short.bmp", bmp(4, 4, 32, 0, {}, Bytes(10)));
    write("text.bmp", Bytes{'h', 'e', 'l', 'l', 'o'});
    write("good.bmp", bmp(2, 2, 32, 0, {}, rows));
    struct Case {
        std::vector<std::string> args;
        int code;
    } cases[] = {
        {{"resize", "4x4", path("odd.bmp"), path("out.bmp")}, 1},
        {{"resize", "4x4", path("eight.bmp"), path("out.bmp")}, 1},
        {{"resize", "4x4", path("short.bmp"), path("out.bmp")}, 1},
        {{"resize", "4x4", path("text.bmp"), path("out.bmp")}, 1},
        {{"resize", "4x4", path("missing.bmp"), path("out.bmp")}, 1},
        {{"resize", "0x4", path("good.bmp"), path("out.bmp")}, 2},
        {{"resize", "4", path("good.bmp"), path("out.bmp")}, 2},
        {{"resize", "4x-1", path("good.bmp"), path("out.bmp")}, 2},
        {{"resize", "4x4", path("good.bmp")}, 2},
        {{"resize", "40000x40000", path("good.bmp"), path("out.bmp")}, 1},
    };
    for (const Case& k : cases) {
        EXPECT_EQ(run(k.args), k.code) << k.args[1] << " " << k.args[2];
        const std::string e = err();
        EXPECT_EQ(e.rfind("octtool resize: ", 0), 0u) << e;
        EXPECT_EQ(std::count(e.begin(), e.end(), '\n'), 1) << e;
        EXPECT_FALSE(exists("out.bmp"));
    }
}

// No memory for the written file is a one-line failure; before, the file's
// bytes were a std::vector whose bad_alloc ended the program.
TEST_F(OctToolResize, NoMemoryForTheFileIsReported) {
    write("in.bmp", bmp(2, 2, 32, 0, {}, pattern(16)));
    const std::vector<std::string> args{"resize", "300x200", path("in.bmp"), path("out.bmp")};
    plat::failCallAt(plat::FailKind::Alloc, std::int64_t{1} << 40);  // counts without failing
    ASSERT_EQ(run(args), 0) << err();
    const std::int64_t calls = plat::failCallsSeen(plat::FailKind::Alloc);
    plat::failNone();
    fs::remove(path("out.bmp"));
    // The file's block comes late: look for it from the end. (The strings and
    // streams after it throw bad_alloc out of the command, which is not
    // what this test is about.)
    bool reported = false;
    for (std::int64_t n = calls; n >= 1 && !reported; --n) {
        plat::failCallAt(plat::FailKind::Alloc, n);
        int code = -1;
        try {
            code = run(args);
        } catch (const std::bad_alloc&) {
        }
        plat::failNone();
        reported = code == 1 && err() == "octtool resize: not enough memory to write the picture\n";
    }
    EXPECT_TRUE(reported);
    EXPECT_FALSE(exists("out.bmp"));
}

TEST_F(OctToolResize, Help) {
    ASSERT_EQ(run({"help", "resize"}), 0);
    EXPECT_NE(out().find("usage: octtool resize WIDTHxHEIGHT IN OUT"), std::string::npos);
    ASSERT_EQ(run({"help"}), 0);
    EXPECT_NE(out().find("  resize"), std::string::npos);
}

}  // namespace
}  // namespace oct
