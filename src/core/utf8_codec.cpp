#include "core/utf8_codec.h"

#include "log/utf8_rule.h"

char32_t DecodeUtf8Character(std::string_view text, std::size_t* used) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t length = Utf8CharacterLength(bytes, text.size(), used);
  if (length == 0) return kReplacementCharacter;
  char32_t value = length == 1 ? bytes[0] : bytes[0] & (0x7Fu >> length);
  for (std::size_t i = 1; i < length; ++i) value = (value << 6) | (bytes[i] & 0x3Fu);
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
