#include "platform/name_case.h"

#include <gtest/gtest.h>

namespace oct::plat {
namespace {

// The same names on every system, as a folder that folds case compares
// them; pyoct's fold_case gives the same (python/tests/test_many.py).
TEST(NameCase, FoldsEachCodeUnitByItsSimpleUpperCase) {
    const struct {
        std::u16string name, folded;
    } cases[] = {
        {u"photo-ä.Bmp", u"PHOTO-Ä.BMP"},
        {u"i", u"I"},                      // not the Turkish dotted capital
        {u"ß", u"ß"},                      // no one-letter upper case
        {u"\u212A", u"\u212A"},            // the Kelvin sign is its own upper case ...
        {u"k", u"K"},                      // ... and that of k is the letter K
        {u"\u2126\u03C9", u"\u2126\u03A9"},  // the ohm sign stays; omega rises
        {u"\u1F80", u"\u1F88"},            // simple, not full, upper case
        {u"\U00010428", u"\U00010428"},    // beyond the BMP: a surrogate pair stays
        {u"", u""},
    };
    for (const auto& c : cases) EXPECT_EQ(nameFoldCase(c.name), c.folded);
}

}  // namespace
}  // namespace oct::plat
