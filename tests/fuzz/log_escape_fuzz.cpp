// The log line's text: no raw control byte (C0, DEL, C1) and no ill-formed UTF-8 leaves the
// escaper, and the escaped text decodes back to the record's text.
#include <string>

#include "fuzz_check.h"
#include "log/log_output.h"

namespace {

int HexDigit(char c) {
  return c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
}

// Reads \n, \r, \t and \xHH back; any other backslash stands for itself.
std::string Unescape(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char next = i + 1 < text.size() && text[i] == '\\' ? text[i + 1] : '\0';
    if (next == 'n' || next == 'r' || next == 't') {
      out += next == 'n' ? '\n' : next == 'r' ? '\r' : '\t';
      ++i;
    } else if (next == 'x' && i + 3 < text.size() && HexDigit(text[i + 2]) >= 0 &&
               HexDigit(text[i + 3]) >= 0) {
      out += static_cast<char>(HexDigit(text[i + 2]) * 16 + HexDigit(text[i + 3]));
      i += 3;
    } else {
      out += text[i];
    }
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::string line;
  EscapeLogText(text.data(), text.size(), [&](const char* piece, std::size_t length) {
    FUZZ_CHECK(length > 0 && IsWellFormedUtf8({piece, length}));  // a character whole
    line.append(piece, length);
  });
  for (std::size_t i = 0; i < line.size(); ++i) {
    const auto byte = static_cast<unsigned char>(line[i]);
    FUZZ_CHECK(byte >= 0x20 && byte != 0x7F);
    FUZZ_CHECK(
        !(byte == 0xC2 && i + 1 < line.size() && static_cast<unsigned char>(line[i + 1]) < 0xA0));
  }
  FUZZ_CHECK(Unescape(line) == text);
  return 0;
}
