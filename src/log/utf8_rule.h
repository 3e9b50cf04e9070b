// What is well-formed UTF-8, once for the whole library: the log's escaper and the text
// codec (core/utf8_codec.h) both ask here. Header only, so that the tools' codec library
// needs nothing else of the log.
#pragma once

#include <cstddef>

// The length (1 to 4) of the well-formed UTF-8 character at the start of text[0, size),
// which is not empty, or 0 when it is ill-formed; then *subpart, when given, receives the
// length of the maximal ill-formed subpart there (at least 1), which a decoder replaces
// with one U+FFFD.
inline std::size_t Utf8CharacterLength(const unsigned char* text, std::size_t size,
                                       std::size_t* subpart = nullptr) noexcept {
  const unsigned char lead = text[0];
  if (subpart != nullptr) *subpart = 1;
  if (lead < 0x80) return 1;
  std::size_t length = 0;
  // The second byte's range rules out overlong forms, surrogates and values past U+10FFFF,
  // so that what follows it needs only the 80..BF check.
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    low = lead == 0xE0 ? 0xA0 : low;
    high = lead == 0xED ? 0x9F : high;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    low = lead == 0xF0 ? 0x90 : low;
    high = lead == 0xF4 ? 0x8F : high;
  } else {
    return 0;
  }
  for (std::size_t i = 1; i < length; ++i) {
    if (i >= size || text[i] < low || text[i] > high) return 0;
    low = 0x80;
    high = 0xBF;
    if (subpart != nullptr) *subpart = i + 1;
  }
  return length;
}
