// octtool's commands, run in-process with their n-th allocation failing (the
// test program's operator new and the runtime's heaps, which the failure
// points reach on every system): each run ends with exit code 0 and the
// output of the run without failures, or with exit code 1 and no file left
// behind. A std::bad_alloc escaping a command would end the test program.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "platform/fail_inject.h"
#include "test_files.h"
#include "tool.h"

namespace octtest {
namespace {

namespace fs = std::filesystem;
namespace plat = oct::plat;

// Runs spread over each command's allocations: every one would take minutes
// under the sanitizers and wine; the out-of-process test on Linux (tests/fail/
// octtool_alloc/run) tries every n.
constexpr std::int64_t kRunsPerCommand = 60;

int runTool(const std::vector<std::string>& args) {
    std::ostringstream out, err;
    std::vector<std::string_view> views(args.begin(), args.end());
    oct::tool::ToolContext context{.out = out, .err = err};
    return oct::tool::toolRun(views, context);
}

TEST(OctToolAllocationFailure, EveryCommandEndsCleanlyOrGivesItsOutput) {
    TempDir dir;
    const fs::path data = OCT_CORPUS_DIR;
    fs::create_directories(dir.path("in"));
    fs::copy_file(fs::path(OCT_SAMPLES_DIR) / "harvesters-320.bmp", dir.path("in/photo.bmp"));
    writeFile(dir.path("in/shapes.draw"), Bytes{'b', 'o', 'x', ' ', '1', ' ', '1', ' ', '9', ' ', '5', '\n'});
    ASSERT_EQ(runTool({"convert", dir.path("in/photo.bmp").string(), dir.path("in/photo.oct").string()}), 0);
    ASSERT_EQ(runTool({"pack", dir.path("in/photo.bmp").string(), dir.path("in/photo.pk").string()}), 0);
    const std::string in = dir.path("in").string() + "/";
    const struct {
        const char* name;
        std::vector<std::string> args;  // "OUT" stands for the output file
    } commands[] = {
        {"convert to levels", {"convert", in + "photo.bmp", "OUT"}},
        {"convert JPEG to BMP", {"convert", (data / "jpeg/pillow/hopper.jpg").string(), "OUT.bmp"}},
        {"convert PNG to PNG", {"convert", (data / "png/pngsuite/basn6a08.png").string(), "OUT.png"}},
        {"pack", {"pack", in + "photo.bmp", "OUT"}},
        {"unpack", {"unpack", in + "photo.pk", "OUT"}},
        {"bmp", {"bmp", "--depth", "4", "--dither", in + "photo.bmp", "OUT.bmp"}},
        {"archive", {"archive", "create", "OUT.pak", in + "photo.bmp", "note=" + in + "shapes.draw"}},
        {"draw", {"draw", "OUT.png", "20", "10", "32", in + "shapes.draw"}},
        {"resize", {"resize", "30x20", (data / "png/pngsuite/basn6a08.png").string(), "OUT.bmp"}},
    };
    for (const auto& c : commands) {
        SCOPED_TRACE(c.name);
        // The run without failures: its output and its allocations.
        const auto withOut = [&](const fs::path& folder) {
            std::vector<std::string> args = c.args;
            for (std::string& a : args)
                if (a.rfind("OUT", 0) == 0) a = (folder / ("out" + a.substr(3))).string();
            return args;
        };
        fs::create_directories(dir.path("good"));
        const std::vector<std::string> goodArgs = withOut(dir.path("good")), runArgs = withOut(dir.path("run"));
        plat::failCallAt(plat::FailKind::Alloc, INT64_MAX);
        ASSERT_EQ(runTool(goodArgs), 0);
        const std::int64_t calls = plat::failCallsSeen(plat::FailKind::Alloc);
        plat::failNone();
        const std::vector<std::string> good = [&] {
            std::vector<std::string> names;
            for (const auto& e : fs::directory_iterator(dir.path("good"))) names.push_back(e.path().filename().string());
            return names;
        }();
        ASSERT_EQ(good.size(), 1u);
        const Bytes expected = readFile(dir.path("good") / good[0]);
        const std::int64_t stride = std::max<std::int64_t>(1, calls / kRunsPerCommand);
        for (std::int64_t n = 1; n <= calls; n += stride) {
            const fs::path run = dir.path("run");
            fs::remove_all(run);
            fs::create_directories(run);
            // The harness's own vectors and streams are made before the failure is set.
            std::ostringstream out, err;
            const std::vector<std::string_view> views(runArgs.begin(), runArgs.end());
            oct::tool::ToolContext context{.out = out, .err = err};
            plat::failCallAt(plat::FailKind::Alloc, n);
            const int code = oct::tool::toolRun(views, context);
            plat::failNone();
            std::vector<std::string> left;
            for (const auto& e : fs::directory_iterator(run)) left.push_back(e.path().filename().string());
            if (code == 0) {
                EXPECT_TRUE(left == good && readFile(run / good[0]) == expected) << "allocation " << n << ": another output";
            } else {
                EXPECT_EQ(code, 1) << "allocation " << n;
                EXPECT_TRUE(left.empty()) << "allocation " << n << ": left " << (left.empty() ? "" : left[0]);
            }
        }
        fs::remove_all(dir.path("good"));
    }
}

}  // namespace
}  // namespace octtest
