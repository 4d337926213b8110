#include "platform/utf8.h"

#include <gtest/gtest.h>

#include <string>

namespace oct {
namespace {

std::string toUtf8(std::u16string_view text) {
    std::string out(utf8LengthOf(text), '\0');
    char* end = utf8Encode(text, out.data());
    EXPECT_EQ(end, out.data() + out.size());
    return out;
}

std::u16string toUtf16(std::string_view text) {
    std::u16string out(utf16LengthOf(text), u'\0');
    char16_t* end = utf16Encode(text, out.data());
    EXPECT_EQ(end, out.data() + out.size());
    return out;
}

struct Pair {
    const char* name;
    std::u16string utf16;
    std::string utf8;
};

// Well-formed text converts both ways to the same thing.
TEST(Utf8, WellFormedTextRoundTrips) {
    const Pair cases[] = {
        {"empty", u"", ""},
        {"ascii", u"level.oct", "level.oct"},
        {"two bytes", u"\u00e9\u07ff", "\xC3\xA9\xDF\xBF"},
        {"three bytes", u"\u0800\u20ac\uffff", "\xE0\xA0\x80\xE2\x82\xAC\xEF\xBF\xBF"},
        {"BMP edge before surrogates", u"\ud7ff\ue000", "\xED\x9F\xBF\xEE\x80\x80"},
        {"four bytes", u"\U00010000\U0001F600\U0010FFFF",
         "\xF0\x90\x80\x80\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF"},
        {"mixed", u"a\u00e9\u20ac\U0001F600z", "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80z"},
    };
    for (const Pair& c : cases) {
        EXPECT_EQ(toUtf8(c.utf16), c.utf8) << c.name;
        EXPECT_EQ(toUtf16(c.utf8), c.utf16) << c.name;
    }
}

TEST(Utf8, UnpairedSurrogatesBecomeOneReplacementEach) {
    const Pair cases[] = {
        {"lone high", u"\xD800", "\xEF\xBF\xBD"},
        {"lone low", u"\xDC00", "\xEF\xBF\xBD"},
        {"high then ascii", u"\xD83Dx", "\xEF\xBF\xBDx"},
        {"high at the end", u"ab\xDBFF", "ab\xEF\xBF\xBD"},
        {"reversed pair", u"\xDC00\xD800", "\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"two highs then low", u"\xD800\xD800\xDC00", "\xEF\xBF\xBD\xF0\x90\x80\x80"},
    };
    for (const Pair& c : cases) EXPECT_EQ(toUtf8(c.utf16), c.utf8) << c.name;
}

// One U+FFFD per maximal subpart of each ill-formed sequence.
TEST(Utf8, IllFormedBytesBecomeOneReplacementPerMaximalSubpart) {
    const Pair cases[] = {
        {"lone continuation", u"\uFFFD", "\x80"},
        {"two continuations", u"\uFFFD\uFFFD", "\x80\xBF"},
        {"bytes that never lead", u"\uFFFD\uFFFD\uFFFD\uFFFD", "\xC0\xC1\xF5\xFF"},
        {"overlong two bytes", u"\uFFFD\uFFFD", "\xC0\xAF"},
        {"overlong three bytes", u"\uFFFD\uFFFD\uFFFD", "\xE0\x80\xAF"},
        {"overlong four bytes", u"\uFFFD\uFFFD\uFFFD\uFFFD", "\xF0\x80\x80\xAF"},
        {"encoded surrogate", u"\uFFFD\uFFFD\uFFFD", "\xED\xA0\x80"},
        {"past U+10FFFF", u"\uFFFD\uFFFD\uFFFD\uFFFD", "\xF4\x90\x80\x80"},
        {"truncated three bytes", u"\uFFFD", "\xE2\x82"},
        {"truncated then ascii", u"\uFFFDA", "\xE2\x82" "A"},
        {"truncated four bytes", u"\uFFFDx", "\xF0\x9F\x98x"},
        {"truncated lead only", u"a\uFFFD", "a\xF0"},
        {"lead then lead", u"\uFFFD\u00e9", "\xE2\xC3\xA9"},
        // The Unicode Standard's own example of maximal subparts.
        {"standard example", u"a\uFFFD\uFFFD\uFFFDb\uFFFDc\uFFFD\uFFFDd",
         "\x61\xF1\x80\x80\xE1\x80\xC2\x62\x80\x63\x80\xBF\x64"},
    };
    for (const Pair& c : cases) EXPECT_EQ(toUtf16(c.utf8), c.utf16) << c.name;
}

TEST(Utf8, EveryCodePointRoundTrips) {
    for (char32_t cp = 1; cp <= 0x10FFFF; cp += (cp < 0x20000 ? 1 : 97)) {
        if (cp >= 0xD800 && cp <= 0xDFFF) continue;
        std::u16string one;
        if (cp < 0x10000) {
            one = std::u16string(1, static_cast<char16_t>(cp));
        } else {
            one += static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
            one += static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
        }
        ASSERT_EQ(toUtf16(toUtf8(one)), one) << std::hex << static_cast<std::uint32_t>(cp);
    }
}

}  // namespace
}  // namespace oct
