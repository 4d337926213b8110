// The fixture of the octtool tests: a scratch folder per test, and command
// lines run in-process with their output kept.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "pack/bytes.h"
#include "tool.h"

namespace oct {

namespace fs = std::filesystem;
using test::Bytes;

// A scratch folder per test, removed afterwards.
class OctTool : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        dir_ = fs::temp_directory_path() / (std::string("octtool-") + info->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string path(const char* name) const { return (dir_ / name).string(); }

    void write(const char* name, const Bytes& bytes) const {
        std::ofstream(dir_ / name, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }

    Bytes read(const char* name) const {
        std::ifstream in(dir_ / name, std::ios::binary);
        return Bytes{std::istreambuf_iterator<char>(in), {}};
    }

    bool exists(const char* name) const { return fs::exists(dir_ / name); }

    // Runs one command line; out and err are kept for the test to look at.
    int run(std::vector<std::string> args, bool terminal = false, std::int64_t threshold = std::int64_t{64} << 20) {
        out_.str({});
        err_.str({});
        std::vector<std::string_view> views(args.begin(), args.end());
        tool::ToolContext context{.out = out_, .err = err_, .errIsTerminal = terminal, .progressThreshold = threshold};
        return tool::toolRun(views, context);
    }
    // The same with `input` as standard input.
    int runWithInput(std::vector<std::string> args, const Bytes& input) {
        out_.str({});
        err_.str({});
        std::istringstream in(std::string(input.begin(), input.end()));
        std::vector<std::string_view> views(args.begin(), args.end());
        tool::ToolContext context{.out = out_, .err = err_, .in = &in};
        return tool::toolRun(views, context);
    }
    Bytes outBytes() const {
        const std::string o = out_.str();
        return Bytes(o.begin(), o.end());
    }

    // The path of a file of the folder with a UTF-8 name, as UTF-8: what a
    // command line gives the tool.
    std::string utf8Path(const std::string& name) const {
        const std::u8string u8 = (dir_ / fs::path(std::u8string(name.begin(), name.end()))).u8string();
        return std::string(u8.begin(), u8.end());
    }
    fs::path file(const std::string& utf8Name) const {
        return dir_ / fs::path(std::u8string(utf8Name.begin(), utf8Name.end()));
    }

    std::string out() const { return out_.str(); }
    std::string err() const { return err_.str(); }

    // One line starting with the tool's name.
    bool oneLineMessage() const {
        const std::string e = err();
        return e.rfind("octtool", 0) == 0 && e.find('\n') == e.size() - 1;
    }

private:
    fs::path dir_;
    std::ostringstream out_, err_;
};

}  // namespace oct
