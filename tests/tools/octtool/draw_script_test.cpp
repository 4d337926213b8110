#include "draw_script.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

namespace oct {
namespace {

// One parsed argument as text: "-" when left out, else what its kind fills.
std::string shownArg(const tool::ScriptArg& a) {
    if (!a.given) return "-";
    if (!a.file.empty()) return "file " + a.file.generic_string();
    if (!a.word.empty()) return "word " + a.word;
    if (!a.text.empty()) {
        std::string out;
        for (char16_t ch : a.text) out += ch == u'\n' ? std::string("\\n") : std::string(1, static_cast<char>(ch));
        return "text " + out;
    }
    if (a.real != 0) {
        std::ostringstream s;
        s << "real " << a.real;
        return s.str();
    }
    return std::to_string(a.number);
}

TEST(DrawScript, ParsesEveryArgumentKind) {
    struct Case {
        const char* line;
        std::vector<std::string> args;
    };
    const Case cases[] = {
        {"box -2147483648 2147483647 0x10 +7", {"-2147483648", "2147483647", "16", "7"}},
        {"front -1", {"4294967295"}},
        {"mode 0XFFFFFFFF", {"4294967295"}},
        {"plot 0 0 -0xFFFFFFFF", {"0", "0", "1"}},
        {"image 1 2 255 1 pic.bmp", {"1", "2", "255", "1", "file scripts/pic.bmp"}},
        {"image 1 2 0 0 sub/pic.bmp", {"1", "2", "0", "0", "file scripts/sub/pic.bmp"}},
        {"font Deja_Vu -12", {"word Deja_Vu", "-12", "-", "-"}},
        {"font Serif 12 700", {"word Serif", "12", "700", "-"}},
        {"font Serif 12 700 1", {"word Serif", "12", "700", "1"}},
        {"font -", {"word -", "-", "-", "-"}},
        {"textangle 1 2 -22.5 up", {"1", "2", "real -22.5", "text up"}},
        {"textangle 1 2 +90 up", {"1", "2", "real 90", "text up"}},
        // A text: after one space to the end of the line, '#', spaces and
        // escapes included, a final carriage return left out.
        {"text 3 4  two  # spaces\\n\\\\\r", {"3", "4", "text  two  # spaces\\n\\"}},
        {"text\t3 4 x", {"3", "4", "text x"}},
        {"unclip # nothing", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        tool::ScriptError error;
        const auto steps = tool::parseDrawScript(c.line, error, "scripts");
        ASSERT_TRUE(steps.has_value()) << error.message;
        ASSERT_EQ(steps->size(), 1u);
        std::vector<std::string> args;
        for (const tool::ScriptArg& a : (*steps)[0].args) args.push_back(shownArg(a));
        EXPECT_EQ(args, c.args);
        EXPECT_EQ((*steps)[0].line, 1);
    }
}

// Each kind's rule and message, at the edges of its range.
TEST(DrawScript, ArgumentMistakesSayTheRule) {
    struct Case {
        const char* script;
        std::int32_t line;
        const char* message;
    };
    const Case cases[] = {
        {"box 0 0 2147483648 1", 1, "number '2147483648' out of range (-2147483648 to 2147483647)"},
        {"box 0 0 -2147483649 1", 1, "number '-2147483649' out of range (-2147483648 to 2147483647)"},
        {"image 0 0 -1 0 a.bmp", 1, "number '-1' out of range (0 to 255)"},
        {"image 0 0 255 -1 a.bmp", 1, "number '-1' out of range (0 to 1)"},
        {"front 0x1FFFFFFFF", 1, "bad number '0x1FFFFFFFF' (decimal or 0x-hex, below 2^32)"},
        {"\n\nplot 1 2 blue", 3, "bad number 'blue' (decimal or 0x-hex, below 2^32)"},
        {"box 0 0 - 1", 1, "bad number '-' (decimal or 0x-hex, below 2^32)"},
        {"textangle 0 0 1.2.3 x", 1, "bad number '1.2.3' (decimal, with an optional fraction)"},
        {"textangle 0 0 .5 x", 1, "bad number '.5' (decimal, with an optional fraction)"},
        {"textangle 0 0 1234567890 x", 1, "bad number '1234567890' (decimal, with an optional fraction)"},
        {"text 0 0 \\x", 1, "bad escape in the text: only \\n and \\\\ are known"},
        {"box 0 0 1 1\nellipse 0 0 1", 2, "ellipse takes X Y RX RY"},
        {"box 1 x 2 3 4", 1, "box takes X Y W H"},  // the count is checked before the numbers
        {"line 0 0 1 0x0123456789abcdef0123456789abcdef0123456789", 1,
         "bad number '0x0123456789abcdef0123456789abcdef012345...' (decimal or 0x-hex, below 2^32)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.script);
        tool::ScriptError error;
        EXPECT_FALSE(tool::parseDrawScript(c.script, error).has_value());
        EXPECT_EQ(error.line, c.line);
        EXPECT_EQ(error.message, c.message);
    }
}

}  // namespace
}  // namespace oct
