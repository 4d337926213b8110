// Simple upper case from the system's invariant table, one code unit at a time.
#include <windows.h>

#include "platform/name_case.h"

namespace oct::plat {

std::u16string nameFoldCase(std::u16string_view name) {
    std::u16string out(name);
    for (char16_t& c : out) {
        if (c >= 0xD800 && c <= 0xDFFF) continue;  // surrogates stay
        wchar_t in = static_cast<wchar_t>(c), upper = 0;
        if (LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, &in, 1, &upper, 1, nullptr, nullptr, 0) == 1)
            c = static_cast<char16_t>(upper);
    }
    return out;
}

}  // namespace oct::plat
