// UTF-8 to and from the 32-bit wchar_t of POSIX systems (UTF-32), with the replacement
// rules of core/utf8_codec.h.
#include "core/utf8.h"

#include <cstring>
#include <string_view>

#include "core/utf8_codec.h"

static_assert(sizeof(wchar_t) == 4, "the POSIX conversions take wchar_t for UTF-32");

std::wstring ConvertUtf8ToWide(const char* text) {
  if (text == nullptr) return std::wstring();
  std::string_view rest(text);
  std::wstring converted;
  converted.reserve(rest.size());
  while (!rest.empty()) {
    std::size_t used = 0;
    converted += static_cast<wchar_t>(DecodeUtf8Character(rest, &used));
    rest.remove_prefix(used);
  }
  return converted;
}

std::string ConvertWideToUtf8(const wchar_t* text) {
  if (text == nullptr) return std::string();
  std::string converted;
  for (; *text != L'\0'; ++text) AppendUtf8(static_cast<char32_t>(*text), converted);
  return converted;
}
