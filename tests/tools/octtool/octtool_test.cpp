#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "oct.h"
#include "pack/bytes.h"
#include "platform/bitmaps.h"
#include "platform/handles.h"
#include "pack/registry.h"
#include "test_files.h"
#include "tool.h"
#include "tools/octtool/tool_fixture.h"
#include "tools/octtool/tool_process.h"

namespace oct {
namespace {

// What pakCompress makes of `in` in a zero-filled buffer with room enough.
Bytes referenceContainer(const Bytes& in, std::int32_t level) {
    Bytes c(in.size() * 2 + 4096);
    const std::int64_t n = pakCompress(in.data(), static_cast<std::int64_t>(in.size()), c.data(),
                                       static_cast<std::int64_t>(c.size()), kPakCodecLz, level);
    c.resize(static_cast<std::size_t>(n));
    return c;
}

TEST_F(OctTool, PackWritesTheCodecContainerAndUnpackRestoresIt) {
    const Bytes data = test::mixedData(1200000, 21);
    write("in", data);
    struct Case {
        std::vector<std::string> flags;
        std::int32_t level;
    };
    for (const auto& c : {Case{{}, 6}, Case{{"--level", "0"}, 0}, Case{{"--level", "9"}, 9}}) {
        std::vector<std::string> args = {"pack"};
        args.insert(args.end(), c.flags.begin(), c.flags.end());
        args.insert(args.end(), {path("in"), path("packed")});
        ASSERT_EQ(run(args), 0) << err();
        EXPECT_EQ(read("packed"), referenceContainer(data, c.level)) << c.level;
        ASSERT_EQ(run({"unpack", path("packed"), path("back")}), 0) << err();
        EXPECT_EQ(read("back"), data) << c.level;
        EXPECT_EQ(err(), "");
    }
}

TEST_F(OctTool, WorkedExampleAndEmptyFile) {
    write("abc", test::ascii("abcabcabcabc"));
    ASSERT_EQ(run({"pack", "--level", "9", path("abc"), path("abc.pak")}), 0);
    EXPECT_EQ(read("abc.pak"),
              test::hex("31 7A 6C 62 00 00 00 00 0C 00 00 00 00 00 00 00 00 00 10 00 00 00 00 00 61 00 3C 62 63 02"));
    write("empty", {});
    ASSERT_EQ(run({"pack", path("empty"), path("empty.pak")}), 0);
    EXPECT_EQ(read("empty.pak").size(), 24u);
    ASSERT_EQ(run({"unpack", path("empty.pak"), path("empty.out")}), 0);
    EXPECT_TRUE(exists("empty.out"));
    EXPECT_EQ(read("empty.out"), Bytes{});
}

TEST_F(OctTool, FailuresGiveOneLineAndNoOutputFile) {
    write("data", test::mixedData(5000, 2));
    ASSERT_EQ(run({"pack", path("data"), path("good.pak")}), 0);
    const Bytes good = read("good.pak");
    Bytes corrupt = good;
    corrupt[40] ^= 0x5A;
    corrupt[41] ^= 0xA5;
    write("corrupt.pak", corrupt);
    write("short.pak", Bytes(good.begin(), good.end() - 1));
    write("notpak", test::ascii("just some text, not a container"));
    Bytes huge = good;
    huge[11] = 0x80;  // unpacked size 2^31 and more
    write("huge.pak", huge);

    struct Case {
        const char* name;
        std::vector<std::string> args;
        int code;
    };
    const Case cases[] = {
        {"missing input", {"pack", path("nothing"), path("out")}, 1},
        {"missing container", {"unpack", path("nothing"), path("out")}, 1},
        {"not a container", {"unpack", path("notpak"), path("out")}, 1},
        {"truncated container", {"unpack", path("short.pak"), path("out")}, 1},
        {"corrupt container", {"unpack", path("huge.pak"), path("out")}, 1},
        {"output in a missing folder", {"pack", path("data"), path("no/such/folder/out")}, 1},
        {"level out of range", {"pack", "--level", "10", path("data"), path("out")}, 2},
        {"level not a number", {"pack", "--level", "x", path("data"), path("out")}, 2},
        {"level missing", {"pack", path("data"), path("out"), "--level"}, 2},
        {"one file only", {"pack", path("data")}, 2},
        {"three files", {"unpack", path("good.pak"), path("out"), path("more")}, 2},
        {"unknown command", {"squash", path("data"), path("out")}, 2},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(run(c.args), c.code) << c.name;
        EXPECT_TRUE(oneLineMessage()) << c.name << ": " << err();
        EXPECT_FALSE(exists("out")) << c.name;
    }
    // Damage inside a block either fails or, where the damage still decodes,
    // gives other bytes; it never claims the original.
    const int code = run({"unpack", path("corrupt.pak"), path("out")});
    if (code == 0) {
        EXPECT_NE(read("out"), read("data"));
    } else {
        EXPECT_TRUE(oneLineMessage()) << err();
    }
}

TEST_F(OctTool, RefusesInputsOf2GiBBeforeReadingThem) {
    {
        std::ofstream(path("big"), std::ios::binary).put('x');
    }
    std::error_code ec;
    fs::resize_file(path("big"), std::uint64_t{1} << 31, ec);  // sparse: no disk space used
    if (ec) GTEST_SKIP() << "cannot make a 2 GiB file here: " << ec.message();
    EXPECT_EQ(run({"pack", path("big"), path("out")}), 1);
    EXPECT_TRUE(oneLineMessage()) << err();
    EXPECT_NE(err().find("2 GiB"), std::string::npos) << err();
    EXPECT_EQ(run({"unpack", path("big"), path("out")}), 1);
    EXPECT_FALSE(exists("out"));
}

TEST_F(OctTool, ProgressBarOnlyOnATerminalAndSameBytes) {
    const Bytes data = test::mixedData(3 * 524288 + 10, 8);
    write("in", data);
    ASSERT_EQ(run({"pack", path("in"), path("quiet.pak")}, true), 0) << "below the threshold";
    EXPECT_EQ(err(), "");
    ASSERT_EQ(run({"pack", path("in"), path("pipe.pak")}, false, 1), 0) << "not a terminal";
    EXPECT_EQ(err(), "");
    ASSERT_EQ(run({"pack", path("in"), path("bar.pak")}, true, 1), 0);
    EXPECT_NE(err().find("100%"), std::string::npos) << err();
    EXPECT_NE(err().find("] 33%"), std::string::npos) << "one step per block: " << err();
    EXPECT_EQ(err().back(), '\n');
    EXPECT_EQ(read("bar.pak"), read("quiet.pak"));
    EXPECT_EQ(read("pipe.pak"), read("quiet.pak"));
}

TEST_F(OctTool, Help) {
    EXPECT_EQ(run({"--help"}), 0);
    EXPECT_NE(out().find("pack"), std::string::npos);
    EXPECT_NE(out().find("unpack"), std::string::npos);
    EXPECT_EQ(run({"help"}), 0);
    EXPECT_NE(out().find("unpack"), std::string::npos);
    EXPECT_EQ(run({"help", "pack"}), 0);
    EXPECT_EQ(out().rfind("usage: octtool pack", 0), 0u) << out();
    EXPECT_EQ(run({"unpack", "--help"}), 0);
    EXPECT_EQ(out().rfind("usage: octtool unpack", 0), 0u) << out();
    EXPECT_EQ(run({"help", "squash"}), 2);
    EXPECT_TRUE(oneLineMessage());
    EXPECT_EQ(run({}), 2) << "no command: the list goes to the error stream";
    EXPECT_NE(err().find("usage"), std::string::npos);
}

}  // namespace
}  // namespace oct

namespace oct {
namespace {

// A picture of the library's own bitmap converted and saved through the
// exports (flag 0: level file, 1: BMP). `fill` gives byte i of the pixels.
template <class Fill>
void savePicture(const std::string& path, std::int32_t w, std::int32_t h, int bpp, std::int64_t flag, Fill fill) {
    plat::Handle bm = plat::dibSectionCreate(w, h, bpp);
    plat::BitmapDesc d{};
    ASSERT_TRUE(plat::bitmapDescribe(bm, d));
    auto* p = static_cast<std::uint8_t*>(d.bits);
    for (std::int32_t i = 0; i < d.widthBytes * d.height; ++i) p[i] = fill(i);
    OctImage* r = octConvert(static_cast<int64_t>(bm));
    ASSERT_NE(r, nullptr);
    ASSERT_EQ(octSave(r, std::filesystem::path(path).u16string().c_str(), flag), 1);
    octFree(r);
    plat::objectDelete(bm);
}

// A level file of a gray 40 × 30 picture with alpha.
void writeLevelFile(const std::string& path) {
    savePicture(path, 40, 30, 32, 0, [](std::int32_t) { return std::uint8_t{0x80}; });
}

TEST_F(OctTool, ConvertsALevelFileToABmpAndBack) {
    writeLevelFile(path("in.oct"));
    ASSERT_EQ(run({"convert", path("in.oct"), path("out.BMP")}), 0) << err();
    const Bytes bmp = read("out.BMP");
    ASSERT_EQ(bmp.size(), 54u + 40 * 4 * 30);
    EXPECT_EQ(bmp[28], 32);
    EXPECT_EQ(bmp[54], 119);  // 0x80 × 3 is level 4
    EXPECT_EQ(bmp[57], 119);  // alpha 0x80 is level 4 too
    ASSERT_EQ(run({"convert", path("in.oct"), path("copy.oct")}), 0) << err();
    EXPECT_EQ(read("copy.oct"), read("in.oct"));
}

TEST_F(OctTool, InfoDescribesALevelFile) {
    writeLevelFile(path("in.oct"));
    ASSERT_EQ(run({"info", path("in.oct")}), 0) << err();
    const std::string o = out();
    EXPECT_NE(o.find("kind:    level file"), std::string::npos) << o;
    EXPECT_NE(o.find("width:   40"), std::string::npos) << o;
    EXPECT_NE(o.find("height:  30"), std::string::npos) << o;
    EXPECT_NE(o.find("alpha:   1"), std::string::npos) << o;
    EXPECT_NE(o.find("levels:  1200 bytes"), std::string::npos) << o;
    EXPECT_NE(o.find("payload: " + std::to_string(read("in.oct").size() - 22) + " bytes"), std::string::npos) << o;
}

TEST_F(OctTool, ConvertAndInfoFailWithOneLine) {
    write("junk", test::ascii("not a picture"));
    EXPECT_EQ(run({"convert", path("junk"), path("out.bmp")}), 1);
    EXPECT_TRUE(oneLineMessage()) << err();
    EXPECT_FALSE(exists("out.bmp"));
    EXPECT_EQ(run({"info", path("missing")}), 1);
    EXPECT_TRUE(oneLineMessage()) << err();
    EXPECT_EQ(run({"convert", path("junk")}), 2);
    writeLevelFile(path("in.oct"));
    EXPECT_EQ(run({"convert", path("in.oct"), path("no/such/dir/x.oct")}), 1);
    EXPECT_TRUE(oneLineMessage()) << err();
    // A read-only OUT is refused, left as it was, and the message names the cause.
    for (const char* out : {"ro.oct", "ro.bmp"}) {
        write(out, test::ascii("keep"));
        fs::permissions(path(out), fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                        fs::perm_options::remove);
        EXPECT_EQ(run({"convert", path("in.oct"), path(out)}), 1) << out;
        EXPECT_TRUE(oneLineMessage()) << err();
        EXPECT_NE(err().find("read-only"), std::string::npos) << err();
        EXPECT_EQ(read(out), test::ascii("keep")) << out;
        fs::permissions(path(out), fs::perms::owner_write, fs::perm_options::add);
    }
}

}  // namespace
}  // namespace oct

namespace oct {
namespace {

// A small BMP picture of gray stripes, and its bytes.
Bytes pictureBmp(const std::string& scratch) {
    savePicture(scratch, 50, 20, 24, 1, [](std::int32_t i) { return static_cast<std::uint8_t>(i * 7); });
    std::ifstream in(scratch, std::ios::binary);
    return Bytes{std::istreambuf_iterator<char>(in), {}};
}

TEST_F(OctTool, DashReadsStandardInputAndWritesStandardOutput) {
    const Bytes bmp = pictureBmp(path("pic.bmp"));
    ASSERT_FALSE(bmp.empty());
    ASSERT_EQ(run({"convert", path("pic.bmp"), path("pic.oct")}), 0) << err();
    const Bytes level = read("pic.oct");

    ASSERT_EQ(runWithInput({"convert", "-", "-"}, bmp), 0) << err();
    EXPECT_EQ(outBytes(), level) << "a level file on standard output";
    ASSERT_EQ(runWithInput({"convert", "-", path("from-stdin.bmp")}, level), 0) << err();
    ASSERT_EQ(run({"convert", path("pic.oct"), path("from-file.bmp")}), 0) << err();
    EXPECT_EQ(read("from-stdin.bmp"), read("from-file.bmp"));
    EXPECT_FALSE(exists("-")) << "no file named -";

    ASSERT_EQ(runWithInput({"info", "-"}, level), 0) << err();
    EXPECT_NE(out().find("kind:    level file"), std::string::npos) << out();
    EXPECT_NE(out().find("payload: " + std::to_string(level.size() - 22) + " bytes"), std::string::npos) << out();

    const Bytes data = test::mixedData(300000, 4);
    ASSERT_EQ(runWithInput({"pack", "-", "-"}, data), 0) << err();
    const Bytes packed = outBytes();
    EXPECT_EQ(packed, referenceContainer(data, 6));
    ASSERT_EQ(runWithInput({"unpack", "-", "-"}, packed), 0) << err();
    EXPECT_EQ(outBytes(), data);

    EXPECT_EQ(runWithInput({"convert", "-", "-"}, test::ascii("no picture")), 1);
    EXPECT_TRUE(oneLineMessage()) << err();
    EXPECT_NE(err().find("standard input"), std::string::npos) << err();
    EXPECT_EQ(run({"convert", "-", path("x.oct")}), 1) << "no standard input in this context";
    EXPECT_TRUE(oneLineMessage()) << err();
}

// Names in scripts the ANSI code pages lack together: CJK, Cyrillic, Greek,
// and one outside the Basic Multilingual Plane (a surrogate pair in UTF-16).
const char* const kNonAsciiNames[] = {"\u5199\u771f-\u540d.bmp", "\u0444\u043e\u0442\u043e-\u03c6\u03c9\u03c2.bmp",
                                      "\U0001F5BC-picture.bmp"};

TEST_F(OctTool, TakesNamesOutsideTheAnsiCodePage) {
    const Bytes bmp = pictureBmp(path("pic.bmp"));
    for (const char* name : kNonAsciiNames) {
        SCOPED_TRACE(name);
        const std::string in(name), out = std::string(name) + ".oct", back = std::string(name) + ".back.bmp";
        std::ofstream(file(in), std::ios::binary).write(reinterpret_cast<const char*>(bmp.data()),
                                                        static_cast<std::streamsize>(bmp.size()));
        ASSERT_EQ(run({"convert", utf8Path(in), utf8Path(out)}), 0) << err();
        ASSERT_EQ(run({"info", utf8Path(out)}), 0) << err();
        ASSERT_EQ(run({"convert", utf8Path(out), utf8Path(back)}), 0) << err();
        EXPECT_TRUE(fs::exists(file(back)));
        ASSERT_EQ(run({"pack", utf8Path(in), utf8Path(out + ".pak")}), 0) << err();
        // A message names the file as given.
        EXPECT_EQ(run({"convert", utf8Path(in + ".missing"), utf8Path(out)}), 1);
        EXPECT_NE(err().find(in + ".missing"), std::string::npos) << err();
    }
}

TEST_F(OctTool, Version) {
    ASSERT_EQ(run({"--version"}), 0);
    EXPECT_EQ(out().rfind("octtool ", 0), 0u) << out();
    EXPECT_EQ(out().back(), '\n');
    EXPECT_NE(out().find("(library interface version 1)"), std::string::npos) << out();
}

// The real program, as a shell starts it: the command line as the system
// hands it over, and standard streams that must carry bytes unchanged (a
// level file is full of 0x0A and 0x1A bytes).
TEST_F(OctTool, TheProgramTakesAnyNameAndBinaryStandardStreams) {
    const Bytes bmp = pictureBmp(path("pic.bmp"));
    ASSERT_EQ(run({"convert", path("pic.bmp"), path("pic.oct")}), 0) << err();
    const std::string in = kNonAsciiNames[0], out = std::string(kNonAsciiNames[2]) + ".oct";
    std::ofstream(file(in), std::ios::binary).write(reinterpret_cast<const char*>(bmp.data()),
                                                    static_cast<std::streamsize>(bmp.size()));
    ASSERT_EQ(octtest::runToolProcess({"convert", utf8Path(in), utf8Path(out)}), 0);
    EXPECT_EQ(octtest::readFile(file(out)), read("pic.oct"));

    ASSERT_EQ(octtest::runToolProcess({"convert", "-", "-"}, file(in), file("stdout.oct")), 0);
    EXPECT_EQ(read("stdout.oct"), read("pic.oct"));
    ASSERT_EQ(octtest::runToolProcess({"convert", "-", "-"}, file("stdout.oct"), file("stdout.oct.oct")), 0);
    EXPECT_EQ(read("stdout.oct.oct"), read("pic.oct"));
    EXPECT_EQ(octtest::runToolProcess({"--version"}), 0);
    EXPECT_EQ(octtest::runToolProcess({"convert", utf8Path("missing.bmp"), utf8Path("x.oct")}), 1);
    EXPECT_EQ(octtest::runToolProcess({"convert"}), 2);
}

}  // namespace
}  // namespace oct

namespace oct {
namespace {

const std::filesystem::path kCorpus = OCT_CORPUS_DIR;

std::string corpus(const char* name) { return (kCorpus / "bmp/g" / name).string(); }

std::uint32_t fieldAt(const Bytes& b, std::size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

TEST_F(OctTool, BmpSavesAtTheDepthGivenOrTheSourceDepth) {
    struct Case {
        const char* in;
        std::vector<std::string> flags;
        std::uint32_t depth;
    };
    const Case cases[] = {
        {"pal8.bmp", {}, 8},
        {"pal4.bmp", {}, 4},
        {"rgb24.bmp", {}, 24},
        {"rgb32.bmp", {}, 32},
        {"pal1.bmp", {}, 1},
        {"rgb24.bmp", {"--depth", "1"}, 1},
        {"rgb24.bmp", {"--depth", "4", "--dither"}, 4},
        {"pal8.bmp", {"--dither", "--depth", "8"}, 8},
        {"pal8.bmp", {"--depth", "32"}, 32},
        {"rgb16.bmp", {"--depth", "24"}, 24},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.in);
        std::vector<std::string> args = {"bmp"};
        args.insert(args.end(), c.flags.begin(), c.flags.end());
        args.insert(args.end(), {corpus(c.in), path("out.bmp")});
        ASSERT_EQ(run(args), 0) << err();
        EXPECT_EQ(err(), "");
        const Bytes f = read("out.bmp");
        ASSERT_GT(f.size(), 54u);
        EXPECT_EQ(f[28], c.depth);
        EXPECT_EQ(fieldAt(f, 18), 127u);
        EXPECT_EQ(fieldAt(f, 2), f.size());
        EXPECT_EQ(fieldAt(f, 10), c.depth <= 8 ? 54 + (4u << c.depth) : 54u);
    }
    // --dither is the encoder's flag 0x100: at depth 8 it changes the rows.
    ASSERT_EQ(run({"bmp", corpus("rgb24.bmp"), "--depth", "8", path("plain.bmp")}), 0);
    ASSERT_EQ(run({"bmp", "--dither", corpus("rgb24.bmp"), "--depth", "8", path("dither.bmp")}), 0);
    EXPECT_NE(read("plain.bmp"), read("dither.bmp"));
    // Standard input and output carry the same bytes as files.
    ASSERT_EQ(run({"bmp", "--depth", "4", path("plain.bmp"), path("four.bmp")}), 0) << err();
    ASSERT_EQ(runWithInput({"bmp", "--depth", "4", "-", "-"}, read("plain.bmp")), 0) << err();
    EXPECT_EQ(outBytes(), read("four.bmp"));
}

TEST_F(OctTool, BmpRefusalsLeaveNoFile) {
    write("junk", test::ascii("not a picture"));
    struct Case {
        const char* name;
        std::vector<std::string> args;
        int code;
    };
    const Case cases[] = {
        {"depth 16", {"bmp", "--depth", "16", corpus("rgb24.bmp"), path("out.bmp")}, 1},
        {"depth 2", {"bmp", "--depth", "2", corpus("rgb24.bmp"), path("out.bmp")}, 1},
        {"depth -1 is the source depth, 16", {"bmp", "--depth", "-1", corpus("rgb16.bmp"), path("out.bmp")}, 1},
        {"source depth 16", {"bmp", corpus("rgb16.bmp"), path("out.bmp")}, 1},
        {"not a picture", {"bmp", path("junk"), path("out.bmp")}, 1},
        {"missing input", {"bmp", path("missing.bmp"), path("out.bmp")}, 1},
        {"no such folder", {"bmp", corpus("rgb24.bmp"), path("no/such/out.bmp")}, 1},
        {"depth not a number", {"bmp", "--depth", "eight", corpus("rgb24.bmp"), path("out.bmp")}, 2},
        {"depth missing", {"bmp", corpus("rgb24.bmp"), path("out.bmp"), "--depth"}, 2},
        {"one file", {"bmp", corpus("rgb24.bmp")}, 2},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(run(c.args), c.code) << c.name;
        EXPECT_TRUE(oneLineMessage()) << c.name << ": " << err();
        EXPECT_EQ(err().rfind("octtool bmp: ", 0), 0u) << c.name << ": " << err();
        EXPECT_FALSE(exists("out.bmp")) << c.name;
    }
    EXPECT_NE((run({"bmp", corpus("rgb16.bmp"), path("out.bmp")}), err()).find("16"), std::string::npos) << err();
    // A refused save leaves an existing file as it was.
    write("keep.bmp", test::ascii("keep"));
    EXPECT_EQ(run({"bmp", "--depth", "16", corpus("rgb24.bmp"), path("keep.bmp")}), 1);
    EXPECT_EQ(read("keep.bmp"), test::ascii("keep"));
}

TEST_F(OctTool, BmpHelp) {
    ASSERT_EQ(run({"help", "bmp"}), 0);
    EXPECT_EQ(out().rfind("usage: octtool bmp [--depth 1|4|8|24|32] [--dither] IN OUT.bmp", 0), 0u) << out();
    ASSERT_EQ(run({"bmp", "--help"}), 0);
    EXPECT_NE(out().find("--dither"), std::string::npos);
    ASSERT_EQ(run({"--help"}), 0);
    EXPECT_NE(out().find("  bmp "), std::string::npos) << out();
}

}  // namespace
}  // namespace oct
