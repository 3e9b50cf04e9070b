// UTF-8 one character at a time, with the replacement rules of the library's POSIX
// conversions and of mmdrctl's printing: each maximal ill-formed subsequence decodes to one
// U+FFFD, and a value that is no Unicode scalar value encodes as U+FFFD.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

inline constexpr char32_t kReplacementCharacter = 0xFFFD;

// Decodes the character at the start of text, which is not empty; *used receives the
// bytes it covers (at least 1).
char32_t DecodeUtf8Character(std::string_view text, std::size_t* used);
// Writes value in UTF-8 into out, which has room for four bytes; how many it wrote.
std::size_t EncodeUtf8(char32_t value, char* out) noexcept;
// Appends value in UTF-8.
void AppendUtf8(char32_t value, std::string& out);
