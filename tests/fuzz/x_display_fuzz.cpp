// The display's name and the authority file, any bytes: a name parses exactly when it has
// DISPLAY's form, into its parts; the cookie is the data of the first whole entry of the
// file that serves the display (its family and address, or any; its number, or any; the
// cookie's name), as a view into the file, and none when no entry does.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <regex>
#include <string>

#include "devices/x_authority.h"
#include "fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const std::string name = input.ConsumeRandomLengthString(64).c_str();  // an environment's text
  // [protocol/]host:number[.screen], each number as strtoul reads it (blanks and a sign first).
  static const std::regex kForm(
      R"(^(?:([\s\S]*)/)?([^/]*):([ \t\n\v\f\r]*[+-]?[0-9]+)(\.[ \t\n\v\f\r]*[+-]?[0-9]+)?$)");
  std::smatch part;
  const bool form = std::regex_match(name, part, kForm);
  const auto parsed = XDisplay::ParseDisplayName(name);
  FUZZ_CHECK(parsed.has_value() == form);
  FUZZ_CHECK(!form || (parsed->hasProtocol == part[1].matched &&
                       parsed->protocol == part[1].str() && parsed->host == part[2].str() &&
                       parsed->number ==
                           static_cast<int>(std::strtoul(part[3].str().c_str(), nullptr, 10))));

  const XDisplay::Peer peer{input.ConsumeIntegral<std::uint16_t>(),
                            input.ConsumeRandomLengthString(32),
                            parsed ? std::to_string(parsed->number) : "0"};
  const std::string file = input.ConsumeRemainingBytesAsString();
  const auto numberAt = [&file](std::size_t at) {  // two bytes, most significant first
    return static_cast<std::size_t>(static_cast<unsigned char>(file[at]) << 8 |
                                    static_cast<unsigned char>(file[at + 1]));
  };
  std::string_view expected;
  for (std::size_t at = 0, fields = 4; fields == 4 && at + 2 <= file.size();) {
    const std::size_t family = numberAt(at);
    std::string_view field[4];
    for (fields = 0, at += 2;
         fields < 4 && at + 2 <= file.size() && at + 2 + numberAt(at) <= file.size(); ++fields) {
      field[fields] = std::string_view(file).substr(at + 2, numberAt(at));
      at += 2 + field[fields].size();
    }
    const bool serves =
        (family == XDisplay::kFamilyWild || (family == peer.family && field[0] == peer.address)) &&
        (field[1].empty() || field[1] == peer.number) && field[2] == XDisplay::kCookieName;
    if (fields == 4 && serves) {
      expected = field[3];
      break;
    }
  }
  const std::string_view cookie = XDisplay::CookieFor(file, peer);
  FUZZ_CHECK(cookie.size() == expected.size() &&
             (cookie.empty() || cookie.data() == expected.data()));
  return 0;
}
