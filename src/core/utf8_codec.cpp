#include "core/utf8_codec.h"

char32_t DecodeUtf8Character(std::string_view text, std::size_t* used) {
  const auto lead = static_cast<unsigned char>(text[0]);
  *used = 1;
  if (lead < 0x80) return lead;
  std::size_t length = 0;
  char32_t value = 0;
  // The range of the second byte: it rules out overlong forms, surrogates and values
  // beyond U+10FFFF, so that what follows it needs only the 80..BF check.
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    value = lead & 0x1Fu;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    value = lead & 0x0Fu;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    value = lead & 0x07u;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return kReplacementCharacter;
  }
  for (std::size_t i = 1; i < length; ++i) {
    const unsigned char next = i < text.size() ? static_cast<unsigned char>(text[i]) : 0;
    // The bytes so far are one maximal ill-formed subpart.
    if (next < low || next > high) return kReplacementCharacter;
    low = 0x80;
    high = 0xBF;
    value = (value << 6) | (next & 0x3Fu);
    *used = i + 1;
  }
  return value;
}

std::size_t EncodeUtf8(char32_t value, char* out) noexcept {
  if (value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) value = kReplacementCharacter;
  if (value < 0x80) {
    out[0] = static_cast<char>(value);
    return 1;
  }
  if (value < 0x800) {
    out[0] = static_cast<char>(0xC0 | (value >> 6));
    out[1] = static_cast<char>(0x80 | (value & 0x3F));
    return 2;
  }
  if (value < 0x10000) {
    out[0] = static_cast<char>(0xE0 | (value >> 12));
    out[1] = static_cast<char>(0x80 | ((value >> 6) & 0x3F));
    out[2] = static_cast<char>(0x80 | (value & 0x3F));
    return 3;
  }
  out[0] = static_cast<char>(0xF0 | (value >> 18));
  out[1] = static_cast<char>(0x80 | ((value >> 12) & 0x3F));
  out[2] = static_cast<char>(0x80 | ((value >> 6) & 0x3F));
  out[3] = static_cast<char>(0x80 | (value & 0x3F));
  return 4;
}

void AppendUtf8(char32_t value, std::string& out) {
  char bytes[4];
  out.append(bytes, EncodeUtf8(value, bytes));
}
