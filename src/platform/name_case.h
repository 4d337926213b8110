// How a folder that folds letter case compares file names: the rule of
// NTFS and exFAT, which keep one upper-case table of UTF-16 code units.
// Two names are one file there when they are equal after every code unit
// is replaced by its simple (one-character) Unicode upper case; surrogates
// and characters without such an upper case stay as they are. "Ä" and "ä"
// are one name, "ß" and "SS" two, and so are the Kelvin sign and "k" (whose
// upper case is the letter K, not the Kelvin sign). pyoct's _many.plan
// folds by the same rule.
#pragma once

#include <string>
#include <string_view>

namespace oct::plat {

// `name` as such a folder compares it.
std::u16string nameFoldCase(std::u16string_view name);

}  // namespace oct::plat
