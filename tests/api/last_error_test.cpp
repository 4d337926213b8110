// The reason of the calling thread's last failure, through the exports: one
// row per cause, each with the code and the words a person reads.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>

#include "oct.h"
#include "platform/fail_reason.h"
#include "platform/bitmaps.h"
#include "platform/fail_inject.h"
#include "platform/handles.h"
#include "test_files.h"

namespace oct {
namespace {

namespace fs = std::filesystem;
using octtest::Bytes;
using octtest::TempDir;
using plat::FailCode;

fs::path corpus(const char* leaf) { return fs::path(OCT_CORPUS_DIR) / leaf; }

// What a failed call left: the code, and the text (through octLastError
// where the platform exports it, and the same record the tool reads).
struct Reason {
    FailCode code;
    std::string text;
};

Reason lastReason() {
    const plat::FailReason& r = plat::failLast();
#ifndef _WIN32
    char text[256];
    EXPECT_EQ(octLastError(text, sizeof text), static_cast<int64_t>(r.code));
    EXPECT_STREQ(text, r.text);
#endif
    return {r.code, r.text};
}

void put(const fs::path& p, const Bytes& bytes) { octtest::writeFile(p, bytes); }
void put(const fs::path& p, const std::string& text) { put(p, Bytes(text.begin(), text.end())); }

Bytes firstBytes(const fs::path& p, std::size_t n) {
    Bytes b = octtest::readFile(p);
    b.resize(std::min(b.size(), n));
    return b;
}

// A picture's header that states `width` × `height` 24-bit pixels and holds
// none of them.
Bytes bmpHeaderOnly(std::int32_t width, std::int32_t height) {
    Bytes b(54, 0);
    auto le32 = [&](std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
    };
    b[0] = 'B', b[1] = 'M';
    le32(2, 54);
    le32(10, 54);
    le32(14, 40);
    le32(18, static_cast<std::uint32_t>(width));
    le32(22, static_cast<std::uint32_t>(height));
    b[26] = 1;
    b[28] = 24;
    return b;
}

// The 22-byte header of a level file, the rest of the file after it.
Bytes levelHeader(std::int32_t width, std::int32_t height, std::int64_t rawSize, std::size_t payload) {
    Bytes b(22 + payload, 0);
    std::memcpy(b.data(), "OCTL", 4);
    std::memcpy(b.data() + 4, &width, 4);
    std::memcpy(b.data() + 8, &height, 4);
    std::memcpy(b.data() + 14, &rawSize, 8);
    return b;
}

struct LoadCase {
    const char* name;
    std::function<void(const fs::path& file)> make;  // nothing made: the file is missing
    FailCode code;
    const char* text;  // the whole text, or its start where it ends with "…"
};

bool matches(const std::string& text, const std::string& expected) {
    const std::string ellipsis = "…";
    if (expected.size() >= ellipsis.size() && expected.compare(expected.size() - ellipsis.size(), ellipsis.size(), ellipsis) == 0)
        return text.rfind(expected.substr(0, expected.size() - ellipsis.size()), 0) == 0;
    return text == expected;
}

// HEIF, AVIF and JPEG XL decode on Linux alone: their headers without a
// picture are damaged there and have no codec on Windows.
#ifdef _WIN32
constexpr bool kWindows = true;
#else
constexpr bool kWindows = false;
#endif

const LoadCase kLoadCases[] = {
    {"missing file", nullptr, FailCode::NoSuchFile, "no such file"},
    {"folder", [](const fs::path& f) { fs::create_directory(f); }, FailCode::IsFolder, "a folder, not a file"},
    {"empty file", [](const fs::path& f) { put(f, Bytes{}); }, FailCode::UnknownFormat, "an empty file"},
    {"text", [](const fs::path& f) { put(f, std::string("hello")); }, FailCode::UnknownFormat,
     "not a picture or level file this library knows"},
    {"cut JPEG", [](const fs::path& f) { octtest::writeFile(f, octtest::readFile(corpus("jpeg-bad/pillow/truncated_jpeg.jpg"))); },
     FailCode::Damaged, "damaged JPEG…"},
    {"PNG with a broken checksum",
     [](const fs::path& f) { octtest::writeFile(f, octtest::readFile(corpus("png-bad/pngsuite/xhdn0g08.png"))); },
     FailCode::Damaged, "damaged PNG…"},
    {"PNG cut inside its header", [](const fs::path& f) { put(f, firstBytes(corpus("png/pngsuite/basn2c08.png"), 20)); },
     FailCode::Damaged, "damaged PNG…"},
    {"BMP with a short header", [](const fs::path& f) { put(f, std::string("BM\x10\x00\x00\x00\x00\x00\x00\x00", 10)); },
     FailCode::Damaged, "damaged BMP (shorter than the file header)"},
    {"BMP of 40000 × 40000 pixels", [](const fs::path& f) { put(f, bmpHeaderOnly(40000, 40000)); }, FailCode::TooLarge,
     "40000 × 40000 pixels; at most …"},
    {"HEIF", [](const fs::path& f) { put(f, std::string("\0\0\0\x18" "ftypheic\0\0\0\0mif1heic", 24)); },
     kWindows ? FailCode::NoCodec : FailCode::Damaged,
     kWindows ? "a HEIF picture, which this system has no codec for" : "damaged HEIF…"},
    {"AVIF listing mif1 too", [](const fs::path& f) { put(f, std::string("\0\0\0\x1c" "ftypavif\0\0\0\0avifmif1miaf", 28)); },
     kWindows ? FailCode::NoCodec : FailCode::Damaged,
     kWindows ? "an AVIF picture, which this system has no codec for" : "damaged AVIF…"},
    {"JPEG XL codestream", [](const fs::path& f) { put(f, std::string("\xff\x0a\xfa\x7f\x01\x90\x08", 7)); },
     kWindows ? FailCode::NoCodec : FailCode::Damaged,
     kWindows ? "a JPEG XL picture, which this system has no codec for" : "damaged JPEG XL…"},
    {"level file without a size", [](const fs::path& f) { put(f, levelHeader(0, 5, 5, 40)); }, FailCode::Damaged,
     "damaged level file (its header gives no size)"},
    {"level file cut after its header", [](const fs::path& f) { put(f, levelHeader(8, 8, 64, 0)); }, FailCode::Damaged,
     "damaged level file (cut short)"},
    {"level file of more levels than pixels", [](const fs::path& f) { put(f, levelHeader(8, 8, 65, 40)); },
     FailCode::Damaged, "damaged level file (more levels than pixels)"},
    {"level file with garbage for levels", [](const fs::path& f) { put(f, levelHeader(8, 8, 64, 40)); },
     FailCode::Damaged, "damaged level file (its packed levels are corrupt)"},
    {"level file of 2^31 pixels", [](const fs::path& f) { put(f, levelHeader(65536, 32768, 64, 40)); },
     FailCode::TooLarge, "a level file of 65536 × 32768 pixels; at most 2147483647 pixels in all"},
};

TEST(LastError, EachCauseOfAFailedLoadSaysWhy) {
    TempDir dir;
    for (const LoadCase& c : kLoadCases) {
        SCOPED_TRACE(c.name);
        const fs::path file = dir.path(std::string("in-") + std::to_string(&c - kLoadCases));
        if (c.make) c.make(file);
        const Bytes bytes = c.make && fs::is_regular_file(file) ? octtest::readFile(file) : Bytes{};

        OctImage* loaded = octLoad(file.u16string().c_str());
        EXPECT_EQ(loaded, nullptr);
        octFree(loaded);
        const Reason r = lastReason();
        EXPECT_EQ(r.code, c.code) << r.text;
        EXPECT_TRUE(matches(r.text, c.text)) << r.text;

        // The same bytes from memory give the same reason; a file's own
        // causes (missing, a folder) have no bytes to give.
        if (bytes.empty()) continue;
        EXPECT_EQ(octCatch(bytes.data(), static_cast<int64_t>(bytes.size())), nullptr);
        const Reason m = lastReason();
        EXPECT_EQ(m.code, c.code) << m.text;
        EXPECT_EQ(m.text, r.text);
    }
}

TEST(LastError, AFileThatCannotBeReadSaysSo) {
    TempDir dir;
    const fs::path file = dir.path("locked.bmp");
    octtest::writeFile(file, octtest::readFile(corpus("bmp/g/pal8.bmp")));
    fs::permissions(file, fs::perms::none);
    // Root and Windows read it anyway.
    if (std::ifstream(file, std::ios::binary).is_open()) GTEST_SKIP() << "this process reads a file without read permission";
    EXPECT_EQ(octLoad(file.u16string().c_str()), nullptr);
    const Reason r = lastReason();
    EXPECT_EQ(r.code, FailCode::NoPermission);
    EXPECT_EQ(r.text, "permission denied");
}

TEST(LastError, EachCauseOfAFailedSaveSaysWhy) {
    TempDir dir;
    OctImage* photo = octLoad(corpus("bmp/g/pal8.bmp").u16string().c_str());
    ASSERT_NE(photo, nullptr);
    EXPECT_EQ(lastReason().code, FailCode::None);  // a success leaves no reason

    fs::create_directory(dir.path("folder.oct"));
    octtest::writeFile(dir.path("read-only.oct"), Bytes{1, 2, 3});
    fs::permissions(dir.path("read-only.oct"), fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    struct SaveCase {
        const char* name;
        fs::path target;
        std::int64_t flag;
        FailCode code;
        const char* text;
    } cases[] = {
        {"no such folder", dir.path("missing") / "x.oct", 0, FailCode::NoSuchFile, "no such folder"},
        {"no such folder, BMP", dir.path("missing") / "x.bmp", 1, FailCode::NoSuchFile, "no such folder"},
        {"a folder there", dir.path("folder.oct"), 0, FailCode::IsFolder, "a folder, not a file"},
        {"a read-only file there", dir.path("read-only.oct"), 0, FailCode::NoPermission, "a read-only file"},
    };
    for (const SaveCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(octSave(photo, c.target.u16string().c_str(), c.flag), 0);
        const Reason r = lastReason();
        EXPECT_EQ(r.code, c.code) << r.text;
        EXPECT_EQ(r.text, c.text);
    }

    // A full disk: the level file's writes fail as the device's would.
    plat::fileFailWritesAfter(0);
    EXPECT_EQ(octSave(photo, dir.name("full.oct").c_str(), 0), 0);
    plat::failNone();
    Reason r = lastReason();
    EXPECT_EQ(r.code, FailCode::NoSpace);
    EXPECT_EQ(r.text, "no space left on the device");
    EXPECT_FALSE(fs::exists(dir.path("full.oct")));
    octFree(photo);

    // Levels the format cannot hold: too few pixels.
    const plat::Handle tiny = plat::dibSectionCreate(4, 7, 24);
    OctImage* small = octConvert(static_cast<int64_t>(tiny));
    ASSERT_NE(small, nullptr);
    EXPECT_EQ(octSave(small, dir.name("tiny.oct").c_str(), 0), 0);
    r = lastReason();
    EXPECT_EQ(r.code, FailCode::LevelsUnfit);
    EXPECT_EQ(r.text, "a level file cannot hold a picture of 28 pixels: it needs more than 28");
    EXPECT_EQ(octSave(small, dir.name("tiny.bmp").c_str(), 1), 1);  // the rebuilt picture still is
    EXPECT_EQ(lastReason().code, FailCode::None);
    octFree(small);
    plat::objectDelete(tiny);
}

TEST(LastError, CallsWithWhatTheyCannotTakeAndMemoryRunningOut) {
    EXPECT_EQ(octLoad(nullptr), nullptr);
    EXPECT_EQ(lastReason().code, FailCode::BadArgument);
    EXPECT_EQ(octCatch(nullptr, 10), nullptr);
    EXPECT_EQ(lastReason().code, FailCode::BadArgument);
    EXPECT_EQ(octConvert(0), nullptr);
    EXPECT_EQ(lastReason().code, FailCode::BadArgument);
    EXPECT_EQ(octSave(nullptr, u"x.oct", 0), 0);
    EXPECT_EQ(lastReason().code, FailCode::BadArgument);
    EXPECT_EQ(octConvert(0x12345), nullptr);  // no bitmap of this library or the system's
    EXPECT_EQ(lastReason().text, "not a bottom-up DIB section of 24 or 32 bits");

    const std::u16string photo = corpus("bmp/g/pal8.bmp").u16string();
    for (plat::FailKind kind : {plat::FailKind::Alloc, plat::FailKind::DibSection}) {
        plat::failCallAt(kind, 1, true);
        OctImage* r = octLoad(photo.c_str());
        plat::failNone();
        EXPECT_EQ(r, nullptr);
        octFree(r);
        const Reason reason = lastReason();
        EXPECT_EQ(reason.code, FailCode::NoMemory) << reason.text;
        EXPECT_EQ(reason.text.rfind("out of memory", 0), 0u) << reason.text;
    }
}

TEST(LastError, EachThreadHasItsOwnReason) {
    TempDir dir;
    put(dir.path("empty.png"), Bytes{});
    const std::u16string missing = dir.name("missing.png"), empty = dir.name("empty.png");
    Reason seen[2];
    auto run = [&](int i, const std::u16string& name) {
        for (int n = 0; n < 200; ++n) {
            EXPECT_EQ(octLoad(name.c_str()), nullptr);
            seen[i] = lastReason();
            if (seen[i].code != (i == 0 ? FailCode::NoSuchFile : FailCode::UnknownFormat)) return;
        }
    };
    std::thread a(run, 0, missing), b(run, 1, empty);
    a.join();
    b.join();
    EXPECT_EQ(seen[0].code, FailCode::NoSuchFile);
    EXPECT_EQ(seen[1].code, FailCode::UnknownFormat);
}

TEST(LastError, TheFirstReasonStandsAndLongTextsAreCutOnACharacter) {
    plat::failBegin();
    plat::failSet(FailCode::NoSuchFile, "no such file");
    plat::failSet(FailCode::Damaged, "damaged");
    EXPECT_EQ(plat::failLast().code, FailCode::NoSuchFile);
    plat::failReplace(FailCode::NoCodec, "replaced");
    EXPECT_STREQ(plat::failLast().text, "replaced");

    // 300 two-byte characters: the text keeps whole ones only.
    std::string long_;
    for (int i = 0; i < 300; ++i) long_ += "é";
    plat::failReplace(FailCode::Damaged, "%s", long_.c_str());
    const std::string kept = plat::failLast().text;
    EXPECT_LT(kept.size(), plat::kFailTextSize);
    EXPECT_EQ(kept.size() % 2, 0u);
    EXPECT_EQ(kept, long_.substr(0, kept.size()));
#ifndef _WIN32
    char small[6];
    EXPECT_EQ(octLastError(small, sizeof small), static_cast<int64_t>(FailCode::Damaged));
    EXPECT_STREQ(small, "éé");  // 5 bytes of room: two whole characters
    EXPECT_EQ(octLastError(nullptr, 0), static_cast<int64_t>(FailCode::Damaged));
#endif
    plat::failBegin();
    EXPECT_EQ(plat::failLast().code, FailCode::None);
    EXPECT_STREQ(plat::failLast().text, "");
}

}  // namespace
}  // namespace oct
