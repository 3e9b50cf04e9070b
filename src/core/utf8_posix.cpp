// UTF-8 to and from the 32-bit wchar_t of POSIX systems (UTF-32), with the replacement
// rules of core/utf8_codec.h.
#include "core/utf8.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <cwchar>
#include <string_view>

#include "core/utf8_codec.h"

static_assert(sizeof(wchar_t) == 4, "the POSIX conversions take wchar_t for UTF-32");

// Every listed device's id and name makes this round trip once per call: both directions
// size the result once and copy ASCII in a plain loop, leaving the rest to the codec.

std::wstring ConvertUtf8ToWide(const char* text) {
  if (text == nullptr) return std::wstring();
  const std::size_t size = std::strlen(text);
  std::wstring converted(size, L'\0');  // a byte makes at most one character
  wchar_t* out = converted.data();
  for (std::size_t i = 0; i < size;) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte < 0x80) {
      *out++ = static_cast<wchar_t>(byte);
      ++i;
    } else {
      std::size_t used = 0;
      *out++ = static_cast<wchar_t>(DecodeUtf8Character({text + i, size - i}, &used));
      i += used;
    }
  }
  converted.resize(static_cast<std::size_t>(out - converted.data()));
  return converted;
}

std::size_t ConvertWideToUtf8Prefix(const wchar_t* text, char* out, std::size_t size) noexcept {
  std::size_t written = 0;
  for (; text != nullptr && *text != L'\0' && written < size; ++text) {
    if (static_cast<std::uint32_t>(*text) < 0x80) {
      out[written++] = static_cast<char>(*text);
      continue;
    }
    char bytes[4];
    const std::size_t taken =
        std::min(EncodeUtf8(static_cast<char32_t>(*text), bytes), size - written);
    std::copy_n(bytes, taken, out + written);
    written += taken;
  }
  return written;
}

std::string ConvertWideToUtf8(const wchar_t* text) {
  if (text == nullptr) return std::string();
  const std::size_t length = std::wcslen(text);
  std::size_t ascii = 0;
  while (ascii < length && static_cast<std::uint32_t>(text[ascii]) < 0x80) ++ascii;
  std::string converted(ascii, '\0');
  for (std::size_t i = 0; i < ascii; ++i) converted[i] = static_cast<char>(text[i]);
  for (std::size_t i = ascii; i < length; ++i)
    AppendUtf8(static_cast<char32_t>(text[i]), converted);
  return converted;
}
