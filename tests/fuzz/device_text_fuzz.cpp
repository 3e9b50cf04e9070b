// A V4L2 card field (32 bytes that may lack their NUL) and a sound server's source name and
// description (any bytes) as the listings take them: the name is the field's text less only
// a character its end cut, and the device's texts are the inputs' (an entry field gets them
// by the rule utf8_fuzz checks for any text).
#include <fuzzer/FuzzedDataProvider.h>

#include <linux/videodev2.h>

#include <cstring>

#include "core/utf8.h"
#include "devices/device_text.h"
#include "fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  v4l2_capability capability{};
  const auto card = input.ConsumeBytes<char>(sizeof capability.card);
  std::copy(card.begin(), card.end(), reinterpret_cast<char*>(capability.card));
  const auto* field = reinterpret_cast<const char*>(capability.card);
  const std::string text(field, strnlen(field, sizeof capability.card));
  const std::string name = FixedFieldText(field, sizeof capability.card);
  const std::string cut = text.substr(std::min(name.size(), text.size()));
  FUZZ_CHECK(text.compare(0, name.size(), name) == 0);
  FUZZ_CHECK(cut.empty() || (cut.size() <= 3 && static_cast<unsigned char>(cut[0]) >= 0xC0 &&
                             !IsWellFormedUtf8(cut)));

  const bool described = input.ConsumeBool();
  const std::string source = input.ConsumeRandomLengthString(512),
                    description = input.ConsumeRemainingBytesAsString();
  const DeviceInfo device =
      SourceDevice(source.c_str(), described ? description.c_str() : nullptr, 3);
  FUZZ_CHECK(device.index == 3 && device.number == 3 && device.id == device.path);
  FUZZ_CHECK(device.path == ConvertUtf8ToWide(source.c_str()));
  FUZZ_CHECK(device.name == (described ? ConvertUtf8ToWide(description.c_str()) : device.id));
  return 0;
}
