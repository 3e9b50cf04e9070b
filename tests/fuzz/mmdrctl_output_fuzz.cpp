// mmdrctl's printing of a device's text (any bytes): the JSON string is valid JSON in ASCII
// that decodes to the text with each ill-formed sequence as U+FFFD (well-formed text exactly),
// and the terminal's text is well-formed UTF-8 without a raw control character (C0, DEL, C1).
#include <optional>
#include <string>

#include "core/utf8.h"
#include "fuzz_check.h"
#include "text_output.h"

namespace {

// The JSON string literal's text, as UTF-32; nullopt when it is no valid JSON string.
std::optional<std::u32string> DecodeJsonString(std::string_view json) {
  if (json.size() < 2 || json.front() != '"' || json.back() != '"') return std::nullopt;
  std::u32string out;
  for (std::size_t i = 1; i + 1 < json.size(); ++i) {
    const auto c = static_cast<unsigned char>(json[i]);
    if (c < 0x20 || c >= 0x7F || c == '"') return std::nullopt;
    if (c != '\\') {
      out += c;
      continue;
    }
    if (++i + 1 >= json.size()) return std::nullopt;
    const std::string_view simple = "\"\\/bfnrt", meaning = "\"\\/\b\f\n\r\t";
    if (simple.find(json[i]) != simple.npos) {
      out += static_cast<char32_t>(meaning[simple.find(json[i])]);
    } else if (json[i] == 'u' && i + 5 < json.size() &&
               json.substr(i + 1, 4).find_first_not_of("0123456789abcdefABCDEF") == json.npos) {
      out += static_cast<char32_t>(std::stoul(std::string(json.substr(i + 1, 4)), nullptr, 16));
      i += 4;
    } else {
      return std::nullopt;
    }
  }
  // Surrogate pairs to one value; a lone surrogate is valid JSON but no text.
  std::u32string joined;
  for (std::size_t i = 0; i < out.size(); ++i) {
    const bool pair = out[i] >= 0xD800 && out[i] < 0xDC00 && i + 1 < out.size() &&
                      out[i + 1] >= 0xDC00 && out[i + 1] <= 0xDFFF;
    if (!pair && out[i] >= 0xD800 && out[i] <= 0xDFFF) return std::nullopt;
    joined += pair ? 0x10000 + ((out[i] - 0xD800) << 10) + (out[i + 1] - 0xDC00) : out[i];
    i += pair ? 1 : 0;
  }
  return joined;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const auto decoded = DecodeJsonString(JsonString(text));
  FUZZ_CHECK(decoded && *decoded == DecodeUtf8Lenient(text));
  if (IsWellFormedUtf8(text) && text.find('\0') == text.npos) {
    const std::wstring wide = ConvertUtf8ToWide(text.c_str());
    FUZZ_CHECK(*decoded == std::u32string(wide.begin(), wide.end()));
  }
  const std::string shown = DisplayText(text);
  FUZZ_CHECK(IsWellFormedUtf8(shown));
  for (std::size_t i = 0; i < shown.size(); ++i) {
    const auto byte = static_cast<unsigned char>(shown[i]);
    FUZZ_CHECK(byte >= 0x20 && byte != 0x7F);
    FUZZ_CHECK(
        !(byte == 0xC2 && i + 1 < shown.size() && static_cast<unsigned char>(shown[i + 1]) < 0xA0));
  }
  return 0;
}
