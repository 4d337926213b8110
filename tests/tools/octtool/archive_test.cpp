// octtool archive: create, list and extract from the shell.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pack/bytes.h"
#include "test_files.h"
#include "tools/octtool/tool_fixture.h"

namespace oct {
namespace {

using test::ascii;

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        out.push_back(text.substr(start, end - start));
    return out;
}

TEST_F(OctTool, ArchiveCreateListExtractRoundTrip) {
    const Bytes big = test::mixedData(300000, 9);
    write("big.bin", big);
    write("small.txt", ascii("abcabcabcabc"));
    write("empty", {});
    ASSERT_EQ(run({"archive", "create", utf8Path("a.pak"), utf8Path("big.bin"), "docs/s\xC3\xBC\xC3\x9F.txt=" + utf8Path("small.txt"),
                   utf8Path("empty")}),
              0)
        << err();
    EXPECT_EQ(err(), "");

    ASSERT_EQ(run({"archive", "list", utf8Path("a.pak")}), 0) << err();
    const auto listed = lines(out());
    ASSERT_EQ(listed.size(), 3u);
    EXPECT_EQ(listed[0].rfind("0\t300000\t", 0), 0u) << listed[0];
    EXPECT_NE(listed[0].find("\tpacked\tbig.bin"), std::string::npos) << listed[0];
    EXPECT_EQ(listed[1], "1\t12\t12\tstored\tdocs/s\xC3\xBC\xC3\x9F.txt");
    EXPECT_EQ(listed[2], "2\t0\t0\tstored\tempty");

    ASSERT_EQ(run({"archive", "extract", utf8Path("a.pak"), "-C", utf8Path("out")}), 0) << err();
    EXPECT_EQ(read("out/big.bin"), big);
    EXPECT_EQ(octtest::readFile(file("out/docs/s\xC3\xBC\xC3\x9F.txt")), ascii("abcabcabcabc"));
    EXPECT_TRUE(exists("out/empty"));

    // By name: only the entries asked for.
    ASSERT_EQ(run({"archive", "extract", utf8Path("a.pak"), "-C", utf8Path("named"), "empty"}), 0) << err();
    EXPECT_TRUE(exists("named/empty"));
    EXPECT_FALSE(exists("named/big.bin"));
}

TEST_F(OctTool, ArchiveLevelAndDeterministicBytes) {
    write("in", test::mixedData(100000, 4));
    ASSERT_EQ(run({"archive", "create", "--level", "0", utf8Path("l0.pak"), "x=" + utf8Path("in")}), 0) << err();
    ASSERT_EQ(run({"archive", "create", utf8Path("l6.pak"), "x=" + utf8Path("in")}), 0) << err();
    ASSERT_EQ(run({"archive", "create", "--level", "6", utf8Path("l6b.pak"), "x=" + utf8Path("in")}), 0) << err();
    EXPECT_EQ(read("l6.pak"), read("l6b.pak")) << "level 6 is the default";
    EXPECT_NE(read("l0.pak"), read("l6.pak"));
}

TEST_F(OctTool, ArchiveExtractRefusesNamesThatLeaveTheFolder) {
    // Hand-made: a harmless entry between hostile names.
    Bytes file = {0x32, 0x7A, 0x6C, 0x70};
    auto add = [&](const std::string& name) {
        const Bytes data = ascii("x");
        for (int i = 0; i < 8; ++i) file.push_back(i == 0 ? 1 : 0);
        for (int i = 0; i < 8; ++i) file.push_back(i == 0 ? 1 : 0);
        file.push_back(static_cast<std::uint8_t>(name.size()));
        file.push_back(0);
        file.insert(file.end(), name.begin(), name.end());
        file.insert(file.end(), data.begin(), data.end());
    };
    for (const char* name : {"../up", "/abs", "\\abs", "a/../../up", "c:drive", "..\\up", "ok/inside", "", "."}) add(name);
    write("h.pak", file);
    EXPECT_EQ(run({"archive", "extract", utf8Path("h.pak"), "-C", utf8Path("dest")}), 1);
    const auto messages = lines(err());
    EXPECT_EQ(messages.size(), 8u) << err();
    for (const auto& m : messages) EXPECT_NE(m.find("would leave the target folder"), std::string::npos) << m;
    EXPECT_EQ(read("dest/ok/inside"), ascii("x"));
    EXPECT_FALSE(exists("up"));
    EXPECT_FALSE(fs::exists(fs::temp_directory_path() / "abs"));
}

TEST_F(OctTool, ArchiveFailuresAndUsage) {
    write("in", ascii("data"));
    write("not.pak", ascii("not an archive"));
    write("old.pak", ascii("old archive bytes"));
    struct Case {
        std::vector<std::string> args;
        int code;
    };
    const Case cases[] = {
        {{"archive"}, 2},
        {{"archive", "pack"}, 2},
        {{"archive", "create", utf8Path("x.pak")}, 2},
        {{"archive", "create", "--level", "10", utf8Path("x.pak"), utf8Path("in")}, 2},
        {{"archive", "create", "--level"}, 2},
        {{"archive", "create", "-", utf8Path("in")}, 2},
        {{"archive", "create", utf8Path("x.pak"), "=" + utf8Path("in")}, 1},
        {{"archive", "create", utf8Path("old.pak"), utf8Path("missing")}, 1},
        {{"archive", "list"}, 2},
        {{"archive", "list", utf8Path("not.pak")}, 1},
        {{"archive", "list", utf8Path("missing.pak")}, 1},
        {{"archive", "extract"}, 2},
        {{"archive", "extract", utf8Path("not.pak")}, 1},
        {{"archive", "extract", utf8Path("in"), "-C"}, 2},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(run(c.args), c.code) << c.args.back();
        EXPECT_TRUE(oneLineMessage()) << err();
    }
    EXPECT_FALSE(exists("x.pak"));
    EXPECT_EQ(read("old.pak"), ascii("old archive bytes")) << "a failed create keeps the old file";

    ASSERT_EQ(run({"archive", "create", utf8Path("a.pak"), utf8Path("in")}), 0);
    EXPECT_EQ(run({"archive", "extract", utf8Path("a.pak"), "-C", utf8Path("d"), "nothere"}), 1);
    EXPECT_NE(err().find("no entry named 'nothere'"), std::string::npos) << err();

    ASSERT_EQ(run({"help", "archive"}), 0);
    EXPECT_NE(out().find("octtool archive extract IN.pak [-C DIR] [NAME...]"), std::string::npos);
    ASSERT_EQ(run({"--help"}), 0);
    EXPECT_NE(out().find("archive"), std::string::npos);
}

TEST_F(OctTool, ArchiveProgressBarOnlyOnATerminal) {
    write("in", test::mixedData(50000, 2));
    ASSERT_EQ(run({"archive", "create", utf8Path("p.pak"), utf8Path("in")}, true, 1000), 0);
    EXPECT_NE(err().find("100%"), std::string::npos) << err();
    const Bytes withBar = read("p.pak");
    ASSERT_EQ(run({"archive", "create", utf8Path("p.pak"), utf8Path("in")}, false, 1000), 0);
    EXPECT_EQ(err(), "");
    EXPECT_EQ(read("p.pak"), withBar);
    ASSERT_EQ(run({"archive", "extract", utf8Path("p.pak"), "-C", utf8Path("o")}, true, 1000), 0);
    EXPECT_NE(err().find("100%"), std::string::npos) << err();
}

}  // namespace
}  // namespace oct
