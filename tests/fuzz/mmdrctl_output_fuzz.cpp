// mmdrctl's printing of a device's text, any bytes: the JSON string is valid JSON in ASCII
// that decodes to the text with one U+FFFD for each maximal ill-formed subpart (well-formed
// text exactly); the terminal's text is well-formed UTF-8 without a raw control character.
#include <string>

#include "fuzz_check.h"
#include "text_output.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::string json = JsonString(text);
  std::u32string decoded;  // JSON's escapes read back, surrogate pairs joined
  FUZZ_CHECK(json.size() >= 2 && json.front() == '"' && json.back() == '"');
  for (std::size_t i = 1; i + 1 < json.size(); ++i) {
    const char c = json[i], next = json[i + 1];
    FUZZ_CHECK(c >= 0x20 && c < 0x7F && c != '"' && (c != '\\' || i + 2 < json.size()));
    const std::size_t simple = std::string_view("\"\\/bfnrt").find(next);
    const bool unit = c == '\\' && next == 'u';
    FUZZ_CHECK(c != '\\' || simple != std::string::npos ||
               (unit && json.find_first_not_of("0123456789abcdefABCDEF", i + 2) >= i + 6));
    const char32_t value = unit        ? std::stoul(json.substr(i + 2, 4), nullptr, 16)
                           : c != '\\' ? c
                                       : "\"\\/\b\f\n\r\t"[simple];
    const bool low = value >= 0xDC00 && value <= 0xDFFF && !decoded.empty() &&
                     decoded.back() >= 0xD800 && decoded.back() < 0xDC00;
    if (low) decoded.back() = 0x10000 + ((decoded.back() - 0xD800) << 10) + (value - 0xDC00);
    if (!low) decoded += value;
    i += unit ? 5 : c == '\\' ? 1 : 0;
  }
  FUZZ_CHECK(decoded == DecodeUtf8(text));  // no surrogate either, paired or not
  const std::string shown = DisplayText(text);
  FUZZ_CHECK(IsWellFormedUtf8(shown) && !HoldsControl(shown));
  return 0;
}
