// Simple upper case from the C library's wide-character table of a UTF-8
// locale (C.UTF-8, which glibc always has); ASCII alone should none be found.
#include "platform/name_case.h"

#include <locale.h>
#include <wctype.h>

namespace oct::plat {

std::u16string nameFoldCase(std::u16string_view name) {
    static const locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
    std::u16string out(name);
    for (char16_t& c : out) {
        if (c >= 0xD800 && c <= 0xDFFF) continue;  // surrogates stay
        if (utf8) {
            const wint_t upper = towupper_l(static_cast<wint_t>(c), utf8);
            if (upper <= 0xFFFF && (upper < 0xD800 || upper > 0xDFFF)) c = static_cast<char16_t>(upper);
        } else if (c >= u'a' && c <= u'z') {
            c = static_cast<char16_t>(c - u'a' + u'A');
        }
    }
    return out;
}

}  // namespace oct::plat
