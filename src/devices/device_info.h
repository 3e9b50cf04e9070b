// One capture device as an enumeration found it, and the ordered list one
// enumeration fills.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct DeviceInfo {
  std::uint32_t index = 0;   // the device's number within its enumeration
  std::uint32_t kind = 0;    // 2 from the video enumerator, 0 from the audio ones
  std::wstring name;         // display name
  std::wstring guid;         // audio: "{xxxxxxxx-...}" in lower case; video: empty
  std::uint32_t number = 0;  // always equal to index
  std::wstring path;         // device path, endpoint id or interface text; may be empty
  std::wstring id;           // what callers see and store: a copy of path
};

// In the order the operating system enumerated the devices; never sorted or deduplicated.
using DeviceInfoList = std::vector<DeviceInfo>;
