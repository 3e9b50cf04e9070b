// A V4L2 card field (32 bytes that may lack their NUL) and a sound server's source name and
// description (any bytes) as the listings take them: the name is the field's text less only
// a character its end cut, and each text reaches an entry field by the field rule.
#include <fuzzer/FuzzedDataProvider.h>

#include <linux/videodev2.h>

#include <cstring>

#include "core/utf8.h"
#include "devices/device_text.h"
#include "fuzz_check.h"
#include "interface/mmdr_output.h"
#include "kestrelCliLib.h"

namespace {
void CheckEntryField(const std::wstring& text) {
  char field[MMDR_TEXT_FIELD_SIZE] = {};
  CopyWideToTextField(text, field);
  FUZZ_CHECK(field[MMDR_TEXT_FIELD_SIZE - 1] == '\0');
  FUZZ_CHECK(ConvertWideToUtf8(text.c_str()).substr(0, MMDR_TEXT_FIELD_SIZE - 1) == field);
}
}  // namespace

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
  CheckEntryField(ConvertUtf8ToWide(name.c_str()));

  const bool described = input.ConsumeBool();
  const std::string source = input.ConsumeRandomLengthString(512),
                    description = input.ConsumeRemainingBytesAsString();
  const DeviceInfo device =
      SourceDevice(source.c_str(), described ? description.c_str() : nullptr, 3);
  FUZZ_CHECK(device.index == 3 && device.number == 3 && device.id == device.path);
  FUZZ_CHECK(device.path == ConvertUtf8ToWide(source.c_str()));
  FUZZ_CHECK(device.name == (described ? ConvertUtf8ToWide(description.c_str()) : device.id));
  CheckEntryField(device.id);
  CheckEntryField(device.name);
  return 0;
}
