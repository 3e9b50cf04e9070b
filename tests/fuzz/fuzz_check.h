// What the fuzz targets share: a property check that stops the run with its condition, and
// a UTF-8 reader written apart from the library's own rule, which it is tested against.
#pragma once

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#define FUZZ_CHECK(condition)                                                      \
  if (!(condition)) {                                                              \
    std::fprintf(stderr, "property failed: %s (line %d)\n", #condition, __LINE__); \
    std::abort();                                                                  \
  }

constexpr char32_t kIllFormed = 0xFFFFFFFF;

// The character at text[at] by the value it encodes (no overlong form, surrogate or value
// past U+10FFFF): its length, with its value; or, as kIllFormed, the length of the maximal
// ill-formed subpart there: the longest start that more bytes could make a character, or one.
inline std::size_t ReadUtf8(std::string_view text, std::size_t at, char32_t& value) {
  const auto lead = static_cast<unsigned char>(text[at]);
  const std::size_t length = lead < 0x80       ? 1
                             : lead >> 5 == 6  ? 2
                             : lead >> 4 == 14 ? 3
                             : lead >> 3 == 30 ? 4
                                               : 0;
  value = length == 1 ? lead : lead & (0xFF >> (length + 1));
  std::size_t read = 0;
  for (std::size_t k = 1; k <= length; ++k) {  // the values the first k bytes leave open
    const std::size_t rest = 6 * (length - k);
    const char32_t least = length == 1 ? 0 : length == 2 ? 0x80 : length == 3 ? 0x800 : 0x10000;
    const char32_t low = std::max<char32_t>(value << rest, least);
    const char32_t high = std::min<char32_t>(value << rest | ((1u << rest) - 1), 0x10FFFF);
    if (low > high || (low >= 0xD800 && high <= 0xDFFF)) break;
    read = k;
    if (k == length) return length;
    if (at + k >= text.size() || (text[at + k] & 0xC0) != 0x80) break;
    value = value << 6 | (text[at + k] & 0x3F);
  }
  value = kIllFormed;
  return std::max<std::size_t>(read, 1);
}

// The text's characters, each maximal ill-formed subpart as one replacement (U+FFFD, as
// Unicode's recommended practice has it).
inline std::u32string DecodeUtf8(std::string_view text, char32_t replacement = 0xFFFD) {
  std::u32string decoded;
  char32_t value = 0;
  for (std::size_t i = 0; i < text.size(); decoded += value == kIllFormed ? replacement : value)
    i += ReadUtf8(text, i, value);
  return decoded;
}

inline bool IsWellFormedUtf8(std::string_view text) {
  return DecodeUtf8(text, kIllFormed).find(kIllFormed) == std::u32string::npos;
}

// Whether text holds a control character: C0, DEL or C1 (U+0080..U+009F).
inline bool HoldsControl(std::string_view text) {
  const std::u32string decoded = DecodeUtf8(text);
  return std::any_of(decoded.begin(), decoded.end(),
                     [](char32_t c) { return c < 0x20 || (c >= 0x7F && c <= 0x9F); });
}
