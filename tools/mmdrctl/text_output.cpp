#include "text_output.h"

#include <cstdint>
#include <cstdio>

namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Length of the sequence a lead byte announces, 0 for a byte that cannot start one.
int SequenceLength(unsigned char lead) {
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) return 2;
  if (lead >= 0xE0 && lead <= 0xEF) return 3;
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  return 0;
}

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

void AppendEscape(std::string& out, const char* format, unsigned value) {
  char escape[16];
  static_cast<void>(std::snprintf(escape, sizeof escape, format, value));  // always fits
  out += escape;
}

bool IsControl(char32_t c) { return c < 0x20 || c == 0x7F; }

}  // namespace

std::u32string DecodeUtf8Lenient(std::string_view utf8) {
  std::u32string out;
  std::size_t i = 0;
  while (i < utf8.size()) {
    const auto lead = static_cast<unsigned char>(utf8[i]);
    const int length = SequenceLength(lead);
    if (length == 1) {
      out += static_cast<char32_t>(lead);
      ++i;
      continue;
    }
    if (length == 0) {
      out += kReplacement;
      ++i;
      continue;
    }
    char32_t c = lead & (0x7F >> length);
    int taken = 1;
    bool wellFormed = true;
    for (; taken < length; ++taken) {
      if (i + taken >= utf8.size()) {
        wellFormed = false;
        break;
      }
      const auto next = static_cast<unsigned char>(utf8[i + taken]);
      // The second byte's range excludes overlong forms, surrogates and values above
      // U+10FFFF.
      unsigned char low = 0x80;
      unsigned char high = 0xBF;
      if (taken == 1) {
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
      }
      if (next < low || next > high) {
        wellFormed = false;
        break;
      }
      c = (c << 6) | (next & 0x3F);
    }
    // A broken sequence becomes one U+FFFD; decoding resumes at the offending byte.
    out += wellFormed ? c : kReplacement;
    i += taken;
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
      AppendUtf8(out, c);
    }
  }
  return out;
}
