// The texts an X connection is found by, read without a system call: the display's name
// (DISPLAY's form) and the authority file's entries.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace XDisplay {

// DISPLAY's form, [protocol/][host]:number[.screen], as libxcb reads it.
struct DisplayName {
  bool hasProtocol = false;
  std::string protocol;
  std::string host;
  int number = 0;
};
// Nullopt when the text names no display.
std::optional<DisplayName> ParseDisplayName(std::string_view display);

// The authority file's address families.
constexpr unsigned kFamilyInternet = 0;
constexpr unsigned kFamilyInternet6 = 6;
constexpr unsigned kFamilyLocal = 256;
constexpr unsigned kFamilyWild = 65535;
constexpr std::string_view kCookieName = "MIT-MAGIC-COOKIE-1";

// The display as its entries in the authority file name it.
struct Peer {
  unsigned family;
  std::string address;
  std::string number;  // the display's number, in decimal
};

// The cookie of the first entry of the authority file's text that serves this display, as
// libxcb picks it: of any address (wild) or of the peer's, for its number or for any; a
// view into file, empty when none does. An entry is a family (two bytes, most significant
// first), then four counted fields: address, number, name and data.
std::string_view CookieFor(std::string_view file, const Peer& peer);

}  // namespace XDisplay
