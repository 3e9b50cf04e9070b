#include "devices/x_authority.h"

#include <cstdlib>

namespace XDisplay {
namespace {

// A number of an entry: two bytes, most significant first.
bool TakeNumber(std::string_view* rest, unsigned* number) {
  if (rest->size() < 2) return false;
  *number = static_cast<unsigned char>((*rest)[0]) * 256u + static_cast<unsigned char>((*rest)[1]);
  rest->remove_prefix(2);
  return true;
}

// A counted field of an entry: its size as a number, then that many bytes.
bool TakeCounted(std::string_view* rest, std::string_view* field) {
  unsigned size = 0;
  if (!TakeNumber(rest, &size) || rest->size() < size) return false;
  *field = rest->substr(0, size);
  rest->remove_prefix(size);
  return true;
}

}  // namespace

std::optional<DisplayName> ParseDisplayName(std::string_view name) {
  DisplayName display;
  const std::size_t slash = name.rfind('/');
  display.hasProtocol = slash != std::string_view::npos;
  if (display.hasProtocol) {
    display.protocol = name.substr(0, slash);
    name.remove_prefix(slash + 1);
  }
  const std::size_t colon = name.rfind(':');
  if (colon == std::string_view::npos) return std::nullopt;
  display.host = name.substr(0, colon);
  const std::string numbers(name.substr(colon + 1));
  char* end = nullptr;
  // libxcb's own reading (strtoul into an int), so that both reach the same display.
  display.number = static_cast<int>(std::strtoul(numbers.c_str(), &end, 10));
  if (end == numbers.c_str()) return std::nullopt;
  if (*end == '.') {  // a screen's number
    const char* screen = end + 1;
    static_cast<void>(std::strtoul(screen, &end, 10));
    if (end == screen) return std::nullopt;
  }
  if (*end != '\0') return std::nullopt;
  return display;
}

std::string_view CookieFor(std::string_view file, const Peer& peer) {
  std::string_view rest = file;
  std::string_view address, number, name, data;
  unsigned family = 0;
  while (TakeNumber(&rest, &family)) {
    if (!TakeCounted(&rest, &address) || !TakeCounted(&rest, &number) ||
        !TakeCounted(&rest, &name) || !TakeCounted(&rest, &data)) {
      break;
    }
    const bool addressFits =
        family == kFamilyWild || (family == peer.family && address == peer.address);
    if (addressFits && (number.empty() || number == peer.number) && name == kCookieName) {
      return data;
    }
  }
  return {};
}

}  // namespace XDisplay
