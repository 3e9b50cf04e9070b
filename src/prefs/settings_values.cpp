// How both settings stores read a value's text: as a switch or a number, and on Windows
// the text that a registry value's data holds. Plain C++, on both platforms.
#include <algorithm>
#include <cstdint>
#include <limits>

#include "prefs/settings_text.h"

namespace SettingsText {

bool ParseSwitch(std::string_view text) {
  constexpr std::string_view kTrue = "true";
  if (text.size() == kTrue.size() &&
      std::equal(text.begin(), text.end(), kTrue.begin(), [](char a, char b) {
        return (a >= 'A' && a <= 'Z' ? static_cast<char>(a - 'A' + 'a') : a) == b;
      })) {
    return true;
  }
  return ParseNumber(text) != 0;
}

std::uint32_t ParseNumber(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  const bool negative = i < text.size() && text[i] == '-';
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) ++i;
  // Held to the 32-bit range: a huge switch value stays on, a huge number stays huge.
  constexpr std::int64_t kMax = std::numeric_limits<std::int32_t>::max();
  const std::int64_t limit = negative ? kMax + 1 : kMax;
  std::int64_t magnitude = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    magnitude = magnitude * 10 + (text[i] - '0');
    if (magnitude > limit) magnitude = limit;
  }
  return static_cast<std::uint32_t>(negative ? -magnitude : magnitude);
}

std::string FormatNumber(std::uint32_t value) {
  return std::to_string(static_cast<std::int32_t>(value));
}

std::u16string RegistryValueText(const unsigned char* data, std::size_t byteCount) {
  std::u16string text;
  for (std::size_t i = 0; i + 1 < byteCount; i += 2) {
    const auto unit = static_cast<char16_t>(data[i] | data[i + 1] << 8);
    if (unit == u'\0') break;
    text += unit;
  }
  return text;
}

}  // namespace SettingsText
