// UTF-8 and UTF-16 conversion, the same on every platform. Plain code with
// no system calls; it sits with the platform layer because the Linux file
// layer turns UTF-16 names into UTF-8 paths with it, and the string module
// (above) converts with it too.
//
// Ill-formed input is never refused; it converts with U+FFFD REPLACEMENT
// CHARACTER in place of what cannot be decoded, as the Windows conversions of
// code page 65001 without flags do:
//   - UTF-16: each unpaired surrogate unit becomes one U+FFFD.
//   - UTF-8: one U+FFFD per maximal subpart of an ill-formed sequence (the
//     Unicode Standard's "substitution of maximal subparts", chapter 3 U+FFFD
//     substitution): a lead byte followed by as many bytes as still fit a
//     well-formed sequence is replaced as one unit, and decoding resumes at the
//     first byte that does not fit. Bytes that can never start a sequence
//     (80..C1, F5..FF) are replaced one by one. Overlong forms, encoded
//     surrogates (ED A0..BF) and values past U+10FFFF are therefore cut at
//     their second byte.
// Lengths count units without any terminator; the converters write none.
#pragma once

#include <cstddef>
#include <string_view>

namespace oct {

// UTF-8 bytes needed for the UTF-16 text.
std::size_t utf8LengthOf(std::u16string_view text);
// Writes utf8LengthOf(text) bytes to `out`; returns the end of what it wrote.
char* utf8Encode(std::u16string_view text, char* out);

// UTF-16 units needed for the UTF-8 text.
std::size_t utf16LengthOf(std::string_view text);
// Writes utf16LengthOf(text) units to `out`; returns the end of what it wrote.
char16_t* utf16Encode(std::string_view text, char16_t* out);

}  // namespace oct
