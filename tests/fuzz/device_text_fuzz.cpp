// A V4L2 card name (a fixed 32-byte field that may lack its terminator) and a sound server's
// source name and description (any bytes) as the listings receive them: the device's texts
// hold no cut character and no NUL, come from the field's bytes alone, and keep the rules of
// the entry fields.
#include <fuzzer/FuzzedDataProvider.h>

#include <linux/videodev2.h>

#include <cstring>
#include <string>

#include "core/utf8.h"
#include "devices/device_text.h"
#include "fuzz_check.h"
#include "interface/mmdr_output.h"
#include "kestrelCliLib.h"

namespace {

void CheckEntryField(const std::wstring& text) {
  char field[MMDR_TEXT_FIELD_SIZE] = {};
  CopyWideToTextField(text, field);
  const std::string utf8 = ConvertWideToUtf8(text.c_str());
  FUZZ_CHECK(field[sizeof field - 1] == '\0');
  FUZZ_CHECK(std::string_view(field) == std::string_view(utf8).substr(0, sizeof field - 1));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  v4l2_capability capability{};
  const auto card = input.ConsumeBytes<std::uint8_t>(sizeof capability.card);
  if (!card.empty()) std::memcpy(capability.card, card.data(), card.size());
  const auto* field = reinterpret_cast<const char*>(capability.card);
  const std::string name = FixedFieldText(field, sizeof capability.card);
  const std::size_t length = strnlen(field, sizeof capability.card);
  FUZZ_CHECK(name.size() <= length && name == std::string_view(field, name.size()));
  // Only a cut character goes: a lead byte and fewer continuation bytes than it announces.
  const std::string tail = std::string(field, length).substr(name.size());
  FUZZ_CHECK(tail.empty() || (tail.size() <= 3 && static_cast<unsigned char>(tail[0]) >= 0xC0 &&
                              !IsWellFormedUtf8(tail)));
  CheckEntryField(ConvertUtf8ToWide(name.c_str()));

  const bool described = input.ConsumeBool();
  const std::string source = input.ConsumeRandomLengthString(512);
  const std::string description = input.ConsumeRemainingBytesAsString();
  const DeviceInfo device =
      SourceDevice(source.c_str(), described ? description.c_str() : nullptr, 3);
  FUZZ_CHECK(device.index == 3 && device.number == 3 && device.id == device.path);
  FUZZ_CHECK(device.name == (described ? ConvertUtf8ToWide(description.c_str()) : device.id));
  CheckEntryField(device.id);
  CheckEntryField(device.name);
  return 0;
}
