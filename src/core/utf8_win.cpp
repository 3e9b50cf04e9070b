#include "core/utf8.h"

#include <windows.h>

#include <cstring>
#include <cwchar>

namespace {
constexpr int kUtf8CodePage = 65001;
}  // namespace

std::wstring ConvertUtf8ToWide(const char* text) {
  if (text == nullptr) return std::wstring();
  const int length = MultiByteToWideChar(kUtf8CodePage, 0, text, -1, nullptr, 0);
  if (length <= 0) return std::wstring();
  std::wstring converted(static_cast<std::size_t>(length), L'\0');
  if (MultiByteToWideChar(kUtf8CodePage, 0, text, -1, &converted[0], length) <= 0) {
    return std::wstring();
  }
  converted.resize(std::wcslen(converted.c_str()));
  return converted;
}

std::size_t ConvertWideToUtf8Prefix(const wchar_t* text, char* out, std::size_t size) noexcept {
  constexpr int kChunkUnits = 64;  // at most three bytes each
  std::size_t written = 0;
  while (text != nullptr && *text != L'\0' && written < size) {
    int units = 0;
    while (units < kChunkUnits && text[units] != L'\0') ++units;
    if (units == kChunkUnits && IS_HIGH_SURROGATE(text[units - 1])) --units;  // keep a pair
    char bytes[kChunkUnits * 3];
    const int made = WideCharToMultiByte(kUtf8CodePage, 0, text, units, bytes,
                                         static_cast<int>(sizeof bytes), nullptr, nullptr);
    if (made <= 0) break;
    const std::size_t taken = std::min(static_cast<std::size_t>(made), size - written);
    std::memcpy(out + written, bytes, taken);
    written += taken;
    text += units;
  }
  return written;
}

std::string ConvertWideToUtf8(const wchar_t* text) {
  if (text == nullptr) return std::string();
  const int length = WideCharToMultiByte(kUtf8CodePage, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (length <= 0) return std::string();
  std::string converted(static_cast<std::size_t>(length), '\0');
  if (WideCharToMultiByte(kUtf8CodePage, 0, text, -1, &converted[0], length, nullptr, nullptr) <=
      0) {
    return std::string();
  }
  converted.resize(std::strlen(converted.c_str()));
  return converted;
}
