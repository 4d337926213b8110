// octtool's entry: starts the runtime, runs one command, stops the runtime.
#include <iostream>
#include <string_view>
#include <vector>

#include "platform/platform.h"
#include "runtime/module.h"
#include "tool.h"

int main(int argc, char** argv) {
    std::vector<std::string_view> args(argv + 1, argv + argc);
    oct::tool::ToolContext context{.out = std::cout, .err = std::cerr, .errIsTerminal = oct::plat::stderrIsTerminal()};
    oct::modStartAll();
    const int code = oct::tool::toolRun(args, context);
    oct::modStopAll();
    return code;
}
