// The display's name and the authority file, any bytes: a name that parses reads the same
// when written out again; a cookie comes only from a whole entry of the file that serves the
// display (its family and address, or any; its number, or any; the cookie's name).
#include <fuzzer/FuzzedDataProvider.h>

#include <string>

#include "devices/x_authority.h"
#include "fuzz_check.h"

namespace {
// The two-byte size or family that ends just before at.
unsigned Before(const char* at) {
  return static_cast<unsigned char>(at[-2]) * 256u + static_cast<unsigned char>(at[-1]);
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const auto parsed = XDisplay::ParseDisplayName(input.ConsumeRandomLengthString(64));
  const XDisplay::Peer peer{input.ConsumeIntegral<std::uint16_t>(),
                            input.ConsumeRandomLengthString(32),
                            parsed ? std::to_string(parsed->number) : "0"};
  const std::string file = input.ConsumeRemainingBytesAsString();
  if (parsed) {
    const auto again = XDisplay::ParseDisplayName(
        (parsed->hasProtocol ? parsed->protocol + "/" : "") + parsed->host + ":" + peer.number);
    FUZZ_CHECK(again && again->hasProtocol == parsed->hasProtocol &&
               again->protocol == parsed->protocol && again->host == parsed->host &&
               again->number == parsed->number);
  }
  const std::string_view cookie = XDisplay::CookieFor(file, peer), name = XDisplay::kCookieName;
  if (cookie.empty()) return 0;
  const char* const begin = file.data();
  const char* const nameAt = cookie.data() - 2 - name.size();
  FUZZ_CHECK(nameAt >= begin + 6 && cookie.data() + cookie.size() <= begin + file.size());
  FUZZ_CHECK(Before(cookie.data()) == cookie.size() && Before(nameAt) == name.size() &&
             std::string_view(nameAt, name.size()) == name);
  // The number and the address: wherever before the name their sizes say an entry starts.
  bool served = false;
  for (const char* numberAt = nameAt - 2; numberAt >= begin + 6; --numberAt) {
    if (numberAt + Before(numberAt) + 2 != nameAt) continue;
    for (const char* addressAt = numberAt - 2; addressAt >= begin + 4; --addressAt) {
      if (addressAt + Before(addressAt) + 2 != numberAt) continue;
      const std::string_view address(addressAt, Before(addressAt)),
          number(numberAt, Before(numberAt));
      const unsigned family = Before(addressAt - 2);
      served |=
          (family == XDisplay::kFamilyWild || (family == peer.family && address == peer.address)) &&
          (number.empty() || number == peer.number);
    }
  }
  FUZZ_CHECK(served);
  return 0;
}
