// Device texts as the system hands them over (fixed-size fields that may lack a
// terminator, any bytes) into a listed device's fields. Plain C++, no system calls.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "devices/device_info.h"

// The length of text[0, size) without a last character that a cut left incomplete: a
// lead byte followed by fewer continuation bytes than it announces.
std::size_t WithoutCutCharacter(const char* text, std::size_t size);

// The text of a fixed field of size bytes (up to its first NUL, if any), without a last
// character that the field's end cut: a V4L2 card name that fills its field has no NUL.
std::string FixedFieldText(const char* field, std::size_t size);

// A sound server's source as a listed microphone: identified by its name, and shown by
// its description (by its name when it has none). Null texts are empty.
DeviceInfo SourceDevice(const char* name, const char* description, std::uint32_t index);
