// A log record's text, any bytes: its line holds no raw control character and no ill-formed
// UTF-8, goes out a whole character at a time, and reads back as the text.
#include <string>

#include "fuzz_check.h"
#include "log/log_output.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::string line;
  EscapeLogText(text.data(), text.size(), [&](const char* piece, std::size_t length) {
    FUZZ_CHECK(length > 0 && IsWellFormedUtf8({piece, length}));
    line.append(piece, length);
  });
  FUZZ_CHECK(!HoldsControl(line));
  std::string back;  // \n, \r, \t and \xHH read back; any other backslash stands for itself
  for (std::size_t i = 0; i < line.size(); ++i) {
    const std::string_view rest = std::string_view(line).substr(i, 4);
    const bool hex = rest.size() == 4 && rest.substr(0, 2) == "\\x" &&
                     rest.find_first_not_of("0123456789ABCDEF", 2) == rest.npos;
    const std::size_t named =
        rest.size() > 1 && rest[0] == '\\' ? std::string_view("nrt").find(rest[1]) : rest.npos;
    back += hex ? static_cast<char>(std::stoi(std::string(rest.substr(2)), nullptr, 16))
            : named != rest.npos ? "\n\r\t"[named]
                                 : line[i];
    i += hex ? 3 : named != rest.npos ? 1 : 0;
  }
  FUZZ_CHECK(back == text);
  return 0;
}
