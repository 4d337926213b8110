// octtool's entry: takes the command line as UTF-8, starts the runtime, runs
// one command, stops the runtime.
//
// On Windows the arguments come as UTF-16 (wmain): the ANSI code page that
// main's arguments pass through cannot hold every file name.
#include <cstdio>
#include <iostream>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "platform/console.h"
#include "platform/utf8.h"
#include "runtime/module.h"
#include "tool.h"

namespace {

// The command line's own copies may find no memory, before any command runs.
int outOfMemory() {
    std::fputs("octtool: out of memory\n", stderr);
    return oct::tool::kExitFailure;
}

int run(const std::vector<std::string>& utf8) {
    std::vector<std::string_view> args;
    try {
        args.assign(utf8.begin(), utf8.end());
    } catch (const std::bad_alloc&) {
        return outOfMemory();
    }
    oct::plat::consoleStart();
    oct::tool::ToolContext context{
        .out = std::cout, .err = std::cerr, .in = &std::cin, .errIsTerminal = oct::plat::stderrIsTerminal()};
    oct::modStartAll();
    const int code = oct::tool::toolRun(args, context);  // never throws std::bad_alloc
    oct::modStopAll();
    std::cout.flush();
    oct::plat::consoleStop();
    return code;
}

}  // namespace

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
    static_assert(sizeof(wchar_t) == sizeof(char16_t));
    std::vector<std::string> utf8;
    try {
        for (int i = 1; i < argc; ++i) {
            const std::u16string_view arg(reinterpret_cast<const char16_t*>(argv[i]));
            std::string s(oct::utf8LengthOf(arg), '\0');
            oct::utf8Encode(arg, s.data());
            utf8.push_back(std::move(s));
        }
    } catch (const std::bad_alloc&) {
        return outOfMemory();
    }
    return run(utf8);
}
#else
int main(int argc, char** argv) {
    std::vector<std::string> args;
    try {
        args.assign(argv + 1, argv + argc);
    } catch (const std::bad_alloc&) {
        return outOfMemory();
    }
    return run(args);
}
#endif
