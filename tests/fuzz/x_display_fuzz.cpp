// The display's name and the authority file: any bytes. A display that parses names itself
// again when written out; a cookie comes only from a whole entry of the file that serves the
// display (its family and address, or any; its number, or any; the cookie's name), never
// from beyond the file.
#include <fuzzer/FuzzedDataProvider.h>

#include <string>

#include "devices/x_authority.h"
#include "fuzz_check.h"

namespace {

unsigned NumberBefore(const char* field) {
  return static_cast<unsigned char>(field[-2]) * 256u + static_cast<unsigned char>(field[-1]);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const std::string display = input.ConsumeRandomLengthString(64);
  const auto family = input.ConsumeIntegral<std::uint16_t>();
  const std::string address = input.ConsumeRandomLengthString(32);
  const std::string file = input.ConsumeRemainingBytesAsString();

  const auto parsed = XDisplay::ParseDisplayName(display);
  if (!parsed) return 0;
  const std::string written = (parsed->hasProtocol ? parsed->protocol + "/" : std::string()) +
                              parsed->host + ":" + std::to_string(parsed->number);
  const auto again = XDisplay::ParseDisplayName(written);
  FUZZ_CHECK(again && again->hasProtocol == parsed->hasProtocol &&
             again->protocol == parsed->protocol && again->host == parsed->host &&
             again->number == parsed->number);

  const XDisplay::Peer peer{family, address, std::to_string(parsed->number)};
  const std::string_view cookie = XDisplay::CookieFor(file, peer);
  if (cookie.empty()) return 0;
  // The entry backwards from its data: name, number and address, each after its size.
  const char* const begin = file.data();
  FUZZ_CHECK(cookie.data() >= begin + 2 && cookie.data() + cookie.size() <= begin + file.size());
  FUZZ_CHECK(NumberBefore(cookie.data()) == cookie.size());
  const std::string_view name = XDisplay::kCookieName;
  const char* nameAt = cookie.data() - 2 - name.size();
  FUZZ_CHECK(nameAt >= begin + 2 && std::string_view(nameAt, name.size()) == name &&
             NumberBefore(nameAt) == name.size());
  // The number and the address cannot be found backwards alone: look for them at each place
  // before the name where the sizes agree.
  bool served = false;
  for (const char* numberAt = begin + 6; numberAt + 2 <= nameAt && !served; ++numberAt) {
    const std::size_t numberSize = NumberBefore(numberAt);
    if (numberAt + numberSize + 2 != nameAt) continue;
    const std::string_view number(numberAt, numberSize);
    for (const char* addressAt = begin + 4; addressAt + 2 <= numberAt && !served; ++addressAt) {
      const std::size_t addressSize = NumberBefore(addressAt);
      if (addressAt + addressSize + 2 != numberAt) continue;
      const unsigned entryFamily = NumberBefore(addressAt - 2);
      const bool addressFits =
          entryFamily == XDisplay::kFamilyWild ||
          (entryFamily == peer.family && std::string_view(addressAt, addressSize) == peer.address);
      served = addressFits && (number.empty() || number == peer.number);
    }
  }
  FUZZ_CHECK(served);
  return 0;
}
