// How mmdrctl prints texts that come out of the library: UTF-8 fields that may end in a
// cut character and may hold quotes, backslashes or control characters.
#pragma once

#include <string>
#include <string_view>

// Decodes UTF-8, replacing each ill-formed sequence (a cut character, a stray byte, an
// overlong form, a surrogate) with U+FFFD. Returns the code points.
std::u32string DecodeUtf8Lenient(std::string_view utf8);

// A JSON string literal, quotes included, in pure ASCII: quote, backslash and control
// characters escaped, everything outside ASCII as \uXXXX (surrogate pairs above U+FFFF).
std::string JsonString(std::string_view utf8);

// The text as well-formed UTF-8 for a terminal: control characters (C0, DEL, C1) shown as
// \xNN.
std::string DisplayText(std::string_view utf8);
