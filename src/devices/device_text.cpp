#include "devices/device_text.h"

#include <cstring>

#include "core/utf8.h"

std::size_t WithoutCutCharacter(const char* text, std::size_t size) {
  std::size_t lead = size;
  std::size_t following = 0;
  while (lead > 0 && following < 3 && (static_cast<unsigned char>(text[lead - 1]) & 0xC0) == 0x80) {
    --lead;
    ++following;
  }
  if (lead == 0) return size;
  const auto byte = static_cast<unsigned char>(text[lead - 1]);
  const std::size_t announced = byte >= 0xF0 ? 3 : byte >= 0xE0 ? 2 : byte >= 0xC0 ? 1 : 0;
  return following < announced ? lead - 1 : size;
}

std::string FixedFieldText(const char* field, std::size_t size) {
  return std::string(field, WithoutCutCharacter(field, strnlen(field, size)));
}

DeviceInfo SourceDevice(const char* name, const char* description, std::uint32_t index) {
  DeviceInfo device;
  device.index = index;
  device.number = index;
  device.path = ConvertUtf8ToWide(name);
  device.id = device.path;
  device.name = description != nullptr ? ConvertUtf8ToWide(description) : device.id;
  return device;
}
