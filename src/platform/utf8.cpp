#include "platform/utf8.h"

#include <cstdint>

namespace oct {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool isHighSurrogate(char16_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool isLowSurrogate(char16_t u) { return u >= 0xDC00 && u <= 0xDFFF; }
bool isSurrogate(char16_t u) { return u >= 0xD800 && u <= 0xDFFF; }

// Calls emit with every code point of the UTF-16 text.
template <typename Emit>
void decodeUtf16(std::u16string_view text, Emit emit) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        char16_t u = text[i];
        if (isHighSurrogate(u) && i + 1 < text.size() && isLowSurrogate(text[i + 1])) {
            emit(0x10000 + ((char32_t{u} - 0xD800) << 10) + (char32_t{text[i + 1]} - 0xDC00));
            ++i;
        } else {
            emit(isSurrogate(u) ? kReplacement : char32_t{u});
        }
    }
}

// Well-formed UTF-8 (Unicode Table 3-7): the lead byte fixes how many
// continuation bytes follow and the range allowed for the first of them; the
// others are always 80..BF.
struct LeadByte {
    int continuations;   // -1: the byte cannot start a sequence
    std::uint8_t low;    // range of the first continuation byte
    std::uint8_t high;
};

LeadByte leadByte(std::uint8_t b) {
    if (b >= 0xC2 && b <= 0xDF) return {1, 0x80, 0xBF};
    if (b == 0xE0) return {2, 0xA0, 0xBF};  // no overlong forms
    if (b == 0xED) return {2, 0x80, 0x9F};  // no surrogates
    if (b >= 0xE1 && b <= 0xEF) return {2, 0x80, 0xBF};
    if (b == 0xF0) return {3, 0x90, 0xBF};  // no overlong forms
    if (b >= 0xF1 && b <= 0xF3) return {3, 0x80, 0xBF};
    if (b == 0xF4) return {3, 0x80, 0x8F};  // nothing past U+10FFFF
    return {-1, 0, 0};
}

// Calls emit with every code point of the UTF-8 text, U+FFFD for each
// maximal subpart of an ill-formed sequence.
template <typename Emit>
void decodeUtf8(std::string_view text, Emit emit) {
    const std::size_t n = text.size();
    std::size_t i = 0;
    while (i < n) {
        auto b = static_cast<std::uint8_t>(text[i]);
        if (b < 0x80) {
            emit(char32_t{b});
            ++i;
            continue;
        }
        LeadByte lead = leadByte(b);
        if (lead.continuations < 0) {
            emit(kReplacement);
            ++i;
            continue;
        }
        char32_t cp = b & (0x3F >> lead.continuations);
        std::size_t j = i + 1;
        std::uint8_t low = lead.low, high = lead.high;
        int taken = 0;
        for (; taken < lead.continuations && j < n; ++taken, ++j) {
            auto c = static_cast<std::uint8_t>(text[j]);
            if (c < low || c > high) break;
            cp = (cp << 6) | (c & 0x3F);
            low = 0x80;
            high = 0xBF;
        }
        emit(taken == lead.continuations ? cp : kReplacement);
        i = j;
    }
}

std::size_t utf8Units(char32_t cp) { return cp < 0x80 ? 1 : cp < 0x800 ? 2 : cp < 0x10000 ? 3 : 4; }

}  // namespace

std::size_t utf8LengthOf(std::u16string_view text) {
    std::size_t length = 0;
    decodeUtf16(text, [&](char32_t cp) { length += utf8Units(cp); });
    return length;
}

char* utf8Encode(std::u16string_view text, char* out) {
    decodeUtf16(text, [&](char32_t cp) {
        auto put = [&](std::uint32_t byte) { *out++ = static_cast<char>(byte); };
        if (cp < 0x80) {
            put(cp);
        } else if (cp < 0x800) {
            put(0xC0 | (cp >> 6));
            put(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            put(0xE0 | (cp >> 12));
            put(0x80 | ((cp >> 6) & 0x3F));
            put(0x80 | (cp & 0x3F));
        } else {
            put(0xF0 | (cp >> 18));
            put(0x80 | ((cp >> 12) & 0x3F));
            put(0x80 | ((cp >> 6) & 0x3F));
            put(0x80 | (cp & 0x3F));
        }
    });
    return out;
}

std::size_t utf16LengthOf(std::string_view text) {
    std::size_t length = 0;
    decodeUtf8(text, [&](char32_t cp) { length += cp < 0x10000 ? 1 : 2; });
    return length;
}

char16_t* utf16Encode(std::string_view text, char16_t* out) {
    decodeUtf8(text, [&](char32_t cp) {
        if (cp < 0x10000) {
            *out++ = static_cast<char16_t>(cp);
        } else {
            cp -= 0x10000;
            *out++ = static_cast<char16_t>(0xD800 + (cp >> 10));
            *out++ = static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
        }
    });
    return out;
}

}  // namespace oct
