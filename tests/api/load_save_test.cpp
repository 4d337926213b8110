// Level files and BMP files through the loading and saving exports.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <functional>

#include "api/record.h"
#include "image/image.h"
#include "pack/container.h"
#include "oct.h"
#include "platform/bitmaps.h"
#include "platform/handles.h"
#include "test_files.h"

namespace oct {
namespace {

using octtest::Bytes;
using octtest::TempDir;

// A host DIB section converted into a record; `fill` sets each pixel's bytes.
class Converted {
public:
    using Fill = std::function<void(std::uint8_t* pixel, std::int32_t x, std::int32_t y)>;

    Converted(std::int32_t w, std::int32_t h, int bpp, const Fill& fill) {
        bitmap_ = plat::dibSectionCreate(w, h, bpp);
        plat::BitmapDesc bm{};
        EXPECT_TRUE(plat::bitmapDescribe(bitmap_, bm));
        auto* p = static_cast<std::uint8_t*>(bm.bits);
        for (std::int32_t y = 0; y < h; ++y)
            for (std::int32_t x = 0; x < w; ++x)
                fill(p + static_cast<std::int64_t>(y) * bm.widthBytes + x * (bpp / 8), x, y);
        record_ = octConvert(static_cast<int64_t>(bitmap_));
        EXPECT_NE(record_, nullptr);
    }
    // One colour (B, G, R[, A]).
    Converted(std::int32_t w, std::int32_t h, int bpp, std::uint8_t value, std::uint8_t alpha = 255)
        : Converted(w, h, bpp, [=](std::uint8_t* px, std::int32_t, std::int32_t) {
              px[0] = px[1] = px[2] = value;
              if (bpp == 32) px[3] = alpha;
          }) {}
    ~Converted() {
        octFree(record_);
        plat::objectDelete(bitmap_);
    }
    OctImage* get() const { return record_; }

private:
    plat::Handle bitmap_ = 0;
    OctImage* record_ = nullptr;
};

// A record loaded by one of the exports, freed at the end of the scope.
struct Loaded {
    OctImage* r;
    ~Loaded() { octFree(r); }
};

std::uint8_t rebuiltByte(OctImage* r, std::size_t offset) {
    plat::BitmapDesc bm{};
    EXPECT_TRUE(plat::bitmapDescribe(static_cast<plat::Handle>(octHandle(r)), bm));
    return static_cast<const std::uint8_t*>(bm.bits)[offset];
}

TEST(LevelFileSave, UniformPicturesPackSmallAndLoadAgain) {
    struct Case {
        std::int32_t w, h;
        std::uint8_t value;
        std::size_t fileSize;
    };
    const Case cases[] = {{640, 480, 0, 54}, {1920, 1080, 255, 70}};
    for (const Case& c : cases) {
        TempDir dir;
        Converted pic(c.w, c.h, 24, c.value);
        ASSERT_EQ(octSave(pic.get(), dir.name("l.oct").c_str(), 0), 1);
        const Bytes file = octtest::readFile(dir.path("l.oct"));
        EXPECT_EQ(file.size(), c.fileSize);
        // Every level file the library writes loads again, from disk and from memory.
        Loaded fromDisk{octLoad(dir.name("l.oct").c_str())};
        ASSERT_NE(fromDisk.r, nullptr) << c.w;
        EXPECT_EQ(octWidth(fromDisk.r), c.w);
        EXPECT_EQ(octHeight(fromDisk.r), c.h);
        EXPECT_EQ(rebuiltByte(fromDisk.r, 0), c.value);
        Loaded fromMemory{octCatch(file.data(), static_cast<int64_t>(file.size()))};
        ASSERT_NE(fromMemory.r, nullptr);
        EXPECT_EQ(octWidth(fromMemory.r), c.w);
        EXPECT_EQ(dir.entries().size(), 1u) << "no temporary file is left behind";
    }
}

TEST(LevelFileSave, ResavingGivesTheSameBytes) {
    TempDir dir;
    Converted pic(33, 17, 32, 140, 90);
    ASSERT_EQ(octSave(pic.get(), dir.name("a").c_str(), 0), 1);
    ASSERT_EQ(octSave(pic.get(), dir.name("b").c_str(), 0), 1);
    const Bytes a = octtest::readFile(dir.path("a"));
    EXPECT_EQ(a, octtest::readFile(dir.path("b")));
    Loaded back{octLoad(dir.name("a").c_str())};
    ASSERT_NE(back.r, nullptr);
    EXPECT_EQ(octAlpha(back.r), 1);
    ASSERT_EQ(octSave(back.r, dir.name("c").c_str(), 0), 1);
    EXPECT_EQ(octtest::readFile(dir.path("c")), a);
    // The file is closed after loading: it may be deleted at once.
    std::filesystem::remove(dir.path("a"));
    EXPECT_FALSE(std::filesystem::exists(dir.path("a")));
}

TEST(LevelFileLoad, HeaderFieldsAsRead) {
    TempDir dir;
    Converted pic(40, 30, 24, 100);
    ASSERT_EQ(octSave(pic.get(), dir.name("l").c_str(), 0), 1);
    Bytes file = octtest::readFile(dir.path("l"));
    file[12] = 2;     // alpha 2 reads as "with alpha"
    file[13] = 0xA5;  // the reserved byte is kept and written back
    Loaded r{octCatch(file.data(), static_cast<int64_t>(file.size()))};
    ASSERT_NE(r.r, nullptr);
    EXPECT_EQ(octAlpha(r.r), 2);
    plat::BitmapDesc bm{};
    ASSERT_TRUE(plat::bitmapDescribe(static_cast<plat::Handle>(octHandle(r.r)), bm));
    EXPECT_EQ(bm.bitsPerPixel, 32);
    ASSERT_EQ(octSave(r.r, dir.name("again").c_str(), 0), 1);
    EXPECT_EQ(octtest::readFile(dir.path("again")), file);
}

TEST(LevelFileLoad, RefusesWhatIsNotALevelFile) {
    TempDir dir;
    Converted pic(40, 30, 24, 100);
    ASSERT_EQ(octSave(pic.get(), dir.name("l").c_str(), 0), 1);
    const Bytes good = octtest::readFile(dir.path("l"));
    struct Case {
        const char* name;
        Bytes bytes;
    };
    auto with = [&](std::size_t at, std::uint8_t v) {
        Bytes b = good;
        b[at] = v;
        return b;
    };
    const Case cases[] = {
        {"header only", Bytes(good.begin(), good.begin() + 22)},
        {"one payload byte", Bytes(good.begin(), good.begin() + 23)},
        {"payload cut short", Bytes(good.begin(), good.end() - 1)},
        {"bad magic", with(0, 'X')},
        {"width 0", with(4, 0)},
        {"raw size beyond the pixels", with(15, 0x7F)},
        {"container magic", with(22, 0)},
        {"empty", Bytes{}},
    };
    for (const Case& c : cases) {
        octtest::writeFile(dir.path("bad"), c.bytes);
        Loaded disk{octLoad(dir.name("bad").c_str())};
        EXPECT_EQ(disk.r, nullptr) << c.name;
        Loaded mem{octCatch(c.bytes.data(), static_cast<int64_t>(c.bytes.size()))};
        EXPECT_EQ(mem.r, nullptr) << c.name;
    }
    EXPECT_EQ(octCatch(nullptr, 100), nullptr);
    EXPECT_EQ(octCatch(good.data(), 0), nullptr);
    EXPECT_EQ(octCatch(good.data(), -5), nullptr);
    EXPECT_EQ(octCatch(good.data(), std::int64_t{1} << 32), nullptr);
    EXPECT_EQ(octLoad(dir.name("missing").c_str()), nullptr);
    EXPECT_EQ(octLoad(nullptr), nullptr);
}

TEST(LevelFileLoad, RefusesAPayloadLargerThanItsRawSizeAllows) {
    TempDir dir;
    Converted pic(40, 30, 24, 100);
    ASSERT_EQ(octSave(pic.get(), dir.name("l").c_str(), 0), 1);
    Bytes good = octtest::readFile(dir.path("l"));
    // The largest container 1,200 level bytes can have is far below 3 GB; a
    // sparse file of that size costs no disk, and a load that read it would
    // take seconds and gigabytes.
    octtest::writeFile(dir.path("huge"), good);
    std::error_code ec;
    std::filesystem::resize_file(dir.path("huge"), std::uintmax_t{3} << 30, ec);
    if (ec) GTEST_SKIP() << "no 3 GB sparse file here: " << ec.message();
    Loaded disk{octLoad(dir.name("huge").c_str())};
    EXPECT_EQ(disk.r, nullptr);
    std::filesystem::remove(dir.path("huge"));

    // In memory too: the same header with a payload one byte past the bound.
    good.resize(22 + static_cast<std::size_t>(pakMaxContainerSize(40 * 30)) + 1);
    Loaded mem{octCatch(good.data(), static_cast<int64_t>(good.size()))};
    EXPECT_EQ(mem.r, nullptr);
}

TEST(LevelFileSave, FailuresLeaveNoFileAndKeepTheOldOne) {
    TempDir dir;
    Converted tiny(4, 7, 24, 0);  // 28 pixels: never packs
    EXPECT_EQ(octSave(tiny.get(), dir.name("tiny").c_str(), 0), 0);
    EXPECT_TRUE(dir.entries().empty());

    Converted pic(64, 64, 24, 0);
    EXPECT_EQ(octSave(pic.get(), dir.name("no/such/folder").c_str(), 0), 0);
    std::filesystem::create_directory(dir.path("folder"));
    EXPECT_EQ(octSave(pic.get(), dir.name("folder").c_str(), 0), 0);
    EXPECT_TRUE(std::filesystem::is_directory(dir.path("folder")));
    EXPECT_EQ(octSave(pic.get(), dir.name("folder").c_str(), 1), 0);
    EXPECT_EQ(dir.entries().size(), 1u) << "only the folder: no temporary file left";
    EXPECT_EQ(octSave(nullptr, dir.name("x").c_str(), 0), 0);
    EXPECT_EQ(octSave(pic.get(), nullptr, 0), 0);
}

TEST(Save, WritesTheBytesItAlwaysWrote) {
    // Recorded from the saves before they moved to the shared replacing writer.
    struct Case {
        int bpp;
        std::int64_t flag;
        std::size_t size;
        std::uint64_t hash;
    };
    const Case cases[] = {
        {24, 0, 970, 2121419583303086415u},
        {32, 0, 1779, 17819661607101676471u},
        {24, 1, 17866, 6893700856089047319u},
        {32, 1, 23722, 9982514442240853386u},
    };
    TempDir dir;
    constexpr std::int32_t w = 97, h = 61;
    for (const Case& c : cases) {
        // Gradients in every channel, so that every level occurs.
        Converted pic(w, h, c.bpp, [bpp = c.bpp](std::uint8_t* px, std::int32_t x, std::int32_t y) {
            px[0] = static_cast<std::uint8_t>(x * 255 / (w - 1));
            px[1] = static_cast<std::uint8_t>(y * 255 / (h - 1));
            px[2] = static_cast<std::uint8_t>((x * 7 + y * 13) & 0xFF);
            if (bpp == 32) px[3] = static_cast<std::uint8_t>((x + y) * 255 / (w + h - 2));
        });
        EXPECT_EQ(octSave(pic.get(), dir.name("out").c_str(), c.flag), 1);
        const Bytes bytes = octtest::readFile(dir.path("out"));
        EXPECT_EQ(bytes.size(), c.size) << c.bpp << " bits, flag " << c.flag;
        EXPECT_EQ(octtest::fingerprint(bytes), c.hash) << c.bpp << " bits, flag " << c.flag;
    }
}

TEST(BmpSave, WritesTheRebuiltBitmapAtItsDepth) {
    TempDir dir;
    for (int bpp : {24, 32}) {
        Converted pic(5, 3, bpp, 255, 200);
        ASSERT_EQ(octSave(pic.get(), dir.name("p.bmp").c_str(), 1), 1);
        const Bytes f = octtest::readFile(dir.path("p.bmp"));
        const std::size_t row = bpp == 24 ? 16 : 20;
        ASSERT_EQ(f.size(), 54 + row * 3);
        EXPECT_EQ(f[28], bpp);
        EXPECT_EQ(f[54], 255);
        if (bpp == 32) {
            EXPECT_EQ(f[57], 179);  // alpha 200: level 6
        }
    }
}

// The depth of the saved file is the rebuilt picture's own, whatever source
// depth its image records: a save that left the depth to the image would
// write an 8- or 4-bit palette file here.
TEST(BmpSave, TheDepthIsThePicturesNotTheImagesSourceDepth) {
    TempDir dir;
    for (int bpp : {24, 32}) {
        for (std::uint8_t recorded : {1, 4, 8}) {
            Converted pic(5, 3, bpp, 255, 200);
            ImageObject* image = imgGetImage(pic.get()->image);
            ASSERT_NE(image, nullptr);
            image->sourceDepth = recorded;
            ASSERT_EQ(octSave(pic.get(), dir.name("p.bmp").c_str(), 1), 1);
            const Bytes f = octtest::readFile(dir.path("p.bmp"));
            ASSERT_GT(f.size(), 28u);
            EXPECT_EQ(f[28], bpp) << "recorded source depth " << int{recorded};
            EXPECT_EQ(f.size(), 54u + (bpp == 24 ? 16 : 20) * 3);
        }
    }
}

}  // namespace
}  // namespace oct

namespace oct {
namespace {

std::filesystem::path corpus(const char* leaf) { return std::filesystem::path(OCT_CORPUS_DIR) / leaf; }

TEST(PictureLoad, BmpFilesConvertAsPicturesFromDiskAndMemory) {
    const auto path = corpus("bmp/g/pal8.bmp");
    Loaded disk{octLoad(path.u16string().c_str())};
    ASSERT_NE(disk.r, nullptr);
    EXPECT_EQ(octWidth(disk.r), 127);
    EXPECT_EQ(octHeight(disk.r), 64);
    EXPECT_EQ(octAlpha(disk.r), 0) << "every BMP loads as a 24-bit picture";
    const Bytes bytes = octtest::readFile(path);
    Loaded mem{octCatch(bytes.data(), static_cast<int64_t>(bytes.size()))};
    ASSERT_NE(mem.r, nullptr);
    plat::BitmapDesc a{}, b{};
    ASSERT_TRUE(plat::bitmapDescribe(static_cast<plat::Handle>(octHandle(disk.r)), a));
    ASSERT_TRUE(plat::bitmapDescribe(static_cast<plat::Handle>(octHandle(mem.r)), b));
    EXPECT_EQ(std::memcmp(a.bits, b.bits, static_cast<std::size_t>(a.widthBytes) * a.height), 0);

    // The level file of the picture loads back to the same rebuilt pixels.
    TempDir dir;
    ASSERT_EQ(octSave(disk.r, dir.name("p.oct").c_str(), 0), 1);
    Loaded level{octLoad(dir.name("p.oct").c_str())};
    ASSERT_NE(level.r, nullptr);
    plat::BitmapDesc c{};
    ASSERT_TRUE(plat::bitmapDescribe(static_cast<plat::Handle>(octHandle(level.r)), c));
    EXPECT_EQ(std::memcmp(a.bits, c.bits, static_cast<std::size_t>(a.widthBytes) * a.height), 0);
}

TEST(PictureLoad, IconsAreRefusedWithoutTryingALevelFile) {
    const auto path = corpus("ico/hopper.ico");
    EXPECT_EQ(octLoad(path.u16string().c_str()), nullptr);
    const Bytes bytes = octtest::readFile(path);
    EXPECT_EQ(octCatch(bytes.data(), static_cast<int64_t>(bytes.size())), nullptr);
}

TEST(PictureLoad, BadCorpusFilesFailCleanly) {
    for (const auto& entry : std::filesystem::directory_iterator(corpus("bmp/b"))) {
        Loaded r{octLoad(entry.path().u16string().c_str())};
        if (r.r) {
            EXPECT_GT(octWidth(r.r), 0) << entry.path().string();
        }
    }
}

}  // namespace
}  // namespace oct
