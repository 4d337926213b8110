#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "image/image_bytes.h"
#include "platform/files.h"
#include "tools/octtool/tool_fixture.h"
#include "tools/octtool/tool_process.h"

namespace oct {
namespace {

// A 32-bit BMP of w × h pixels whose bytes follow `seed`, alpha included.
Bytes pictureFile(std::int32_t w, std::int32_t h, unsigned seed) {
    Bytes rows(static_cast<std::size_t>(w) * h * 4);
    for (std::size_t i = 0; i < rows.size(); ++i) rows[i] = static_cast<std::uint8_t>(i * (seed * 2 + 1) + seed);
    return octtest::makeBmp({.width = w, .height = h, .bitCount = 32, .pixels = rows});
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

class OctToolConvertMany : public OctTool {
protected:
    // Pictures of several sizes in in/, and one level file made from one of
    // them by the single form: the stems of the inputs are "p0".."pN-1" and
    // "level".
    std::vector<std::string> makeInputs(int pictures) {
        fs::create_directories(path("in"));
        fs::create_directories(path("out"));
        std::vector<std::string> inputs;
        for (int i = 0; i < pictures; ++i) {
            const std::string name = "in/p" + std::to_string(i) + (i % 2 ? ".BMP" : ".bmp");
            write(name.c_str(), pictureFile(30 + 7 * i, 20 + 3 * i, static_cast<unsigned>(i)));
            inputs.push_back(path(name.c_str()));
        }
        EXPECT_EQ(run({"convert", inputs[0], path("in/level.oct")}), 0) << err();
        inputs.push_back(path("in/level.oct"));
        return inputs;
    }

    // What the single form writes for `in` as `out`.
    Bytes singleForm(const std::string& in, const char* out) {
        EXPECT_EQ(run({"convert", in, path(out)}), 0) << err();
        return read(out);
    }

    std::size_t filesIn(const char* folder) const {
        std::size_t n = 0;
        for ([[maybe_unused]] const auto& e : fs::directory_iterator(path(folder))) ++n;
        return n;
    }
};

// Also the thread test that runs under ThreadSanitizer: three workers and
// more pictures than workers.
TEST_F(OctToolConvertMany, WritesWhatTheSingleFormWritesWithAnyNumberOfThreads) {
    const std::vector<std::string> inputs = makeInputs(7);
    for (const bool bitmap : {false, true}) {
        const char* ext = bitmap ? ".bmp" : ".oct";
        for (const char* threads : {"1", "3"}) {
            fs::remove_all(path("out"));
            fs::create_directories(path("out"));
            std::vector<std::string> args{"convert", "-j", threads, "-o", path("out")};
            if (bitmap) args.push_back("--bmp");
            args.insert(args.end(), inputs.begin(), inputs.end());
            ASSERT_EQ(run(args), 0) << err();
            EXPECT_EQ(err(), "") << "no bar and no lines when stderr is not a terminal";
            EXPECT_EQ(filesIn("out"), inputs.size());
            for (const std::string& in : inputs) {
                const std::string stem = fs::path(in).stem().string();
                const Bytes expected = singleForm(in, ("single" + std::string(ext)).c_str());
                ASSERT_FALSE(expected.empty());
                EXPECT_EQ(read(("out/" + stem + ext).c_str()), expected) << stem << ext << " -j " << threads;
            }
        }
    }
}

TEST_F(OctToolConvertMany, OptionsInAnyOrderAndAnExistingOutputReplaced) {
    const std::vector<std::string> inputs = makeInputs(2);
    write("out/p1.oct", test::ascii("old"));
    ASSERT_EQ(run({"convert", inputs[0], "-o", path("out") + "/", inputs[1], "-j2"}), 0) << err();
    EXPECT_EQ(read("out/p0.oct"), singleForm(inputs[0], "a.oct"));
    EXPECT_EQ(read("out/p1.oct"), singleForm(inputs[1], "b.oct"));
    // -- ends the options: a name that starts with - is an input.
    write("-dash.bmp", pictureFile(31, 9, 5));
    ASSERT_EQ(run({"convert", "-o", path("out"), "--", path("-dash.bmp")}), 0) << err();
    EXPECT_EQ(read("out/-dash.oct"), singleForm(path("-dash.bmp"), "c.oct"));
}

TEST_F(OctToolConvertMany, AFailedPictureGetsOneLineAndTheOthersAreWritten) {
    std::vector<std::string> inputs = makeInputs(3);
    write("in/junk.bmp", test::ascii("not a picture"));
    inputs.insert(inputs.begin() + 1, path("in/junk.bmp"));
    inputs.push_back(path("in/missing.bmp"));
    // A read-only output is refused and kept as it was.
    write("out/p2.oct", test::ascii("keep"));
    fs::permissions(path("out/p2.oct"), fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);

    for (const bool terminal : {false, true}) {
        std::vector<std::string> args{"convert", "-j", "2", "-o", path("out")};
        args.insert(args.end(), inputs.begin(), inputs.end());
        EXPECT_EQ(run(args, terminal), 1);
        std::vector<std::string> failures;
        for (const std::string& line : lines(err()))
            if (line.find("octtool convert: ") != std::string::npos) failures.push_back(line);
        ASSERT_EQ(failures.size(), 3u) << err();
        std::string all;
        for (const std::string& f : failures) all += f + "\n";
        for (const char* named : {"junk.bmp'", "missing.bmp'", "p2.oct'"})
            EXPECT_NE(all.find(named), std::string::npos) << named << " in " << all;
        if (terminal) {
            EXPECT_NE(err().find("] 100%"), std::string::npos) << err();
            for (const std::string& f : failures)
                EXPECT_EQ(f.rfind("octtool convert: "), f.find("octtool")) << "one message per line: " << f;
        } else {
            EXPECT_EQ(lines(err()).size(), 3u) << err();
            for (const std::string& f : failures) EXPECT_EQ(f.rfind("octtool convert: ", 0), 0u) << f;
        }
        EXPECT_EQ(read("out/p0.oct"), singleForm(inputs[0], "a.oct"));
        EXPECT_EQ(read("out/p1.oct"), singleForm(inputs[2], "b.oct"));
        EXPECT_EQ(read("out/level.oct"), singleForm(inputs[4], "c.oct"));
        EXPECT_EQ(read("out/p2.oct"), test::ascii("keep"));
        EXPECT_FALSE(exists("out/junk.oct"));
        EXPECT_FALSE(exists("out/missing.oct"));
    }
    fs::permissions(path("out/p2.oct"), fs::perms::owner_write, fs::perm_options::add);
}

TEST_F(OctToolConvertMany, UsageErrorsWriteNothing) {
    const std::vector<std::string> inputs = makeInputs(2);
    fs::create_directories(path("other"));
    write("other/P0.oct", pictureFile(29, 9, 3));
    const std::string out = path("out");
    const std::string a = inputs[0], b = inputs[1];
    struct Case {
        std::vector<std::string> args;
        const char* says;
    } cases[] = {
        {{"--bmp", a, b}, "-o DIR"},
        {{"-j", "2", a, b}, "-o DIR"},
        {{"-o", out}, "no input"},
        {{"-o"}, "-o needs a folder"},
        {{"-o", "", a}, "-o needs a folder"},
        {{"-o", out, "-o", out, a}, "twice"},
        {{"-j", "0", "-o", out, a}, "positive"},
        {{"-j", "-3", "-o", out, a}, "positive"},
        {{"-j", "two", "-o", out, a}, "positive"},
        {{"-j3x", "-o", out, a}, "positive"},
        {{"-j", "99999999999", "-o", out, a}, "positive"},
        {{"-o", out, a, "-j"}, "-j needs"},
        {{"-j", "2", "-j", "2", "-o", out, a}, "twice"},
        {{"-o", out, a, "-"}, "standard input"},
        {{"-o", out, "--", "-"}, "standard input"},
        {{"-o", out, "-x", a}, "unknown option '-x'"},
        {{"-o", out, a, path("other/P0.oct")}, "would both write"},
        {{"-o", out, a, b, a}, "would both write"},
        // Letters beyond ASCII fold as a Windows folder folds them.
        {{"-o", out, path("") + "\xC3\x84.bmp", path("") + "\xC3\xA4.bmp"}, "would both write"},
        {{"-o", out, path("in/"), a}, "names a folder"},
        {{"-o", out, path("in/.."), a}, "names a folder"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args{"convert"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        std::string shown;
        for (const std::string& s : c.args) shown += s + " ";
        EXPECT_EQ(run(args), 2) << shown;
        EXPECT_TRUE(oneLineMessage()) << shown << ": " << err();
        EXPECT_NE(err().find(c.says), std::string::npos) << shown << ": " << err();
        EXPECT_EQ(filesIn("out"), 0u) << shown;
    }
    // The Kelvin sign and "k" are two names there (the upper case of "k" is
    // the letter K), as "\xC3\x9F" and "SS" are: none is refused.
    for (const auto& pair : {std::pair{"\xE2\x84\xAA", "k"}, std::pair{"\xC3\x9F", "SS"}}) {
        // Names in UTF-8, as the tool takes them, kept out of a narrow path.
        run({"convert", "-o", out, path("") + pair.first + ".bmp", path("") + pair.second + ".bmp"});
        EXPECT_EQ(err().find("would both write"), std::string::npos) << err();
    }
    // A missing folder is not made: the work fails before it starts.
    EXPECT_EQ(run({"convert", "-o", path("nowhere"), a, b}), 1);
    EXPECT_TRUE(oneLineMessage()) << err();
    EXPECT_FALSE(exists("nowhere"));
    EXPECT_EQ(run({"convert", "-o", a, b}), 1) << "a file is no folder";
    EXPECT_TRUE(oneLineMessage()) << err();
}

TEST_F(OctToolConvertMany, SkipExistingConvertsOnlyTheMissingOutputs) {
    const std::vector<std::string> inputs = makeInputs(4);
    write("out/p1.oct", test::ascii("kept as it was"));
    const Bytes p2 = singleForm(inputs[2], "p2.oct");
    write("out/p2.oct", p2);
    ASSERT_EQ(run({"convert", "--skip-existing", "-o", path("out"), inputs[0], inputs[1], inputs[2], inputs[3]}), 0)
        << err();
    EXPECT_EQ(read("out/p1.oct"), test::ascii("kept as it was"));
    EXPECT_EQ(read("out/p2.oct"), p2);
    EXPECT_EQ(read("out/p0.oct"), singleForm(inputs[0], "a.oct"));
    EXPECT_EQ(read("out/p3.oct"), singleForm(inputs[3], "b.oct"));
    // Everything there: nothing to do, and that is no failure.
    EXPECT_EQ(run({"convert", "--skip-existing", "-o", path("out"), inputs[0], inputs[1]}), 0) << err();
    EXPECT_EQ(err(), "");
    // Without the option every output is written again.
    ASSERT_EQ(run({"convert", "-o", path("out"), inputs[1]}), 0) << err();
    EXPECT_EQ(read("out/p1.oct"), singleForm(inputs[1], "c.oct"));
}

TEST_F(OctToolConvertMany, TemporaryFilesOfKilledRunsAreRemovedAndOthersKept) {
    const std::vector<std::string> inputs = makeInputs(2);
    // A process of this number is not running (on Linux beyond pid_max, on
    // Windows no process of a number that high is made).
    const std::string dead = "2147483000";
    const std::string live = std::to_string(plat::processId());
    const std::vector<std::pair<std::string, bool>> files = {
        {"out/p0.oct.~" + dead + "-0", false},   // a killed run's, of an output of this batch
        {"out/p1.oct.~" + dead + "-17", false},
        {"out/p0.oct.~" + live + "-3", true},    // a running process's: it may still be writing
        {"out/p9.oct.~" + dead + "-0", true},    // not an output of this batch
        {"out/p0.oct.~" + dead, true},           // not a temporary name
        {"out/p0.oct.~x-1", true},
        {"out/p0.oct.bak", true},
    };
    for (const auto& [name, kept] : files) write(name.c_str(), test::ascii("partial"));
    ASSERT_EQ(run({"convert", "--skip-existing", "-o", path("out"), inputs[0], inputs[1]}), 0) << err();
    for (const auto& [name, kept] : files) EXPECT_EQ(exists(name.c_str()), kept) << name;
    EXPECT_EQ(read("out/p0.oct"), singleForm(inputs[0], "a.oct"));
}

TEST_F(OctToolConvertMany, HelpAndTheProgramOnItsOwn) {
    ASSERT_EQ(run({"help", "convert"}), 0);
    EXPECT_NE(out().find("octtool convert [-j N] [--bmp | --png] [--skip-existing] -o DIR IN..."), std::string::npos) << out();
    EXPECT_NE(out().find("usage: octtool convert IN OUT\n"), std::string::npos) << out();

    // The built program, with its own threads, gives the same files.
    const std::vector<std::string> inputs = makeInputs(3);
    std::vector<std::string> args{"convert", "-j", "2", "--bmp", "-o", path("out")};
    args.insert(args.end(), inputs.begin(), inputs.end());
    ASSERT_EQ(octtest::runToolProcess(args), 0);
    for (const std::string& in : inputs) {
        const std::string stem = fs::path(in).stem().string();
        EXPECT_EQ(read(("out/" + stem + ".bmp").c_str()), singleForm(in, "single.bmp")) << stem;
    }
    args.push_back(path("in/missing.bmp"));
    EXPECT_EQ(octtest::runToolProcess(args), 1);
    EXPECT_EQ(octtest::runToolProcess({"convert", "-o", path("out")}), 2);
}

}  // namespace
}  // namespace oct
