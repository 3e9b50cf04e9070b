#include "text_output.h"

#include <cstdint>
#include <cstdio>

#include "core/utf8_codec.h"

namespace {

void AppendEscape(std::string& out, const char* format, unsigned value) {
  char escape[16];
  static_cast<void>(std::snprintf(escape, sizeof escape, format, value));  // always fits
  out += escape;
}

// C0, DEL and C1: a terminal acts on each (U+009B starts a control sequence on some).
bool IsControl(char32_t c) { return c < 0x20 || (c >= 0x7F && c <= 0x9F); }

}  // namespace

std::u32string DecodeUtf8Lenient(std::string_view utf8) {
  std::u32string out;
  while (!utf8.empty()) {
    std::size_t used = 0;
    out += DecodeUtf8Character(utf8, &used);
    utf8.remove_prefix(used);
  }
  return out;
}

std::string JsonString(std::string_view utf8) {
  std::string out = "\"";
  for (char32_t c : DecodeUtf8Lenient(utf8)) {
    switch (c) {
      case U'"': out += "\\\""; break;
      case U'\\': out += "\\\\"; break;
      case U'\b': out += "\\b"; break;
      case U'\f': out += "\\f"; break;
      case U'\n': out += "\\n"; break;
      case U'\r': out += "\\r"; break;
      case U'\t': out += "\\t"; break;
      default:
        if (c >= 0x20 && c < 0x7F) {
          out += static_cast<char>(c);
        } else if (c < 0x10000) {
          AppendEscape(out, "\\u%04x", static_cast<unsigned>(c));
        } else {
          const char32_t v = c - 0x10000;
          AppendEscape(out, "\\u%04x", static_cast<unsigned>(0xD800 + (v >> 10)));
          AppendEscape(out, "\\u%04x", static_cast<unsigned>(0xDC00 + (v & 0x3FF)));
        }
    }
  }
  out += '"';
  return out;
}

std::string DisplayText(std::string_view utf8) {
  std::string out;
  for (char32_t c : DecodeUtf8Lenient(utf8)) {
    if (IsControl(c)) {
      AppendEscape(out, "\\x%02x", static_cast<unsigned>(c));
    } else {
      AppendUtf8(c, out);
    }
  }
  return out;
}
