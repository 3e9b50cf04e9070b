// What the fuzz targets share: a property check that stops the run with its condition, and
// a UTF-8 check written apart from the library's own rule, which it is tested against.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string_view>

#define FUZZ_CHECK(condition)                                                      \
  if (!(condition)) {                                                              \
    std::fprintf(stderr, "property failed: %s (line %d)\n", #condition, __LINE__); \
    std::abort();                                                                  \
  }

// By the values encoded: no overlong form, surrogate, value past U+10FFFF or stray byte.
inline bool IsWellFormedUtf8(std::string_view text) {
  for (std::size_t i = 0, length = 1; i < text.size(); i += length) {
    const auto lead = static_cast<unsigned char>(text[i]);
    length = lead < 0x80 ? 1 : lead >> 5 == 6 ? 2 : lead >> 4 == 14 ? 3 : lead >> 3 == 30 ? 4 : 0;
    if (length == 0 || i + length > text.size()) return false;
    char32_t value = length == 1 ? lead : lead & (0xFF >> (length + 1));
    for (std::size_t k = 1; k < length; ++k) {
      if ((text[i + k] & 0xC0) != 0x80) return false;
      value = value << 6 | (text[i + k] & 0x3F);
    }
    const bool overlong = value < (length == 1   ? 0u
                                   : length == 2 ? 0x80u
                                   : length == 3 ? 0x800u
                                                 : 0x10000u);
    if (overlong || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return false;
  }
  return true;
}

// Whether text holds a control character's bytes: C0, DEL or C1 (U+0080..U+009F).
inline bool HoldsControl(std::string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    const bool c1 =
        byte == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) < 0xA0;
    if (byte < 0x20 || byte == 0x7F || c1) return true;
  }
  return false;
}
