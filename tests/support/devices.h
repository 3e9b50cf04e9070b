// Reading device lists in tests, and the microphones of the build's Wine prefix.
#pragma once

#include <algorithm>
#include <utility>
#include <string>
#include <vector>

#include "core/text_utils.h"
#include "devices/device_info.h"

namespace kestrel_test {

using NameAndId = std::pair<std::wstring, std::wstring>;

inline std::vector<NameAndId> NamesAndIds(const DeviceInfoList& list) {
  std::vector<NameAndId> out;
  for (const DeviceInfo& device : list) out.push_back({device.name, device.id});
  return out;
}

inline std::vector<std::string> SortedNames(const DeviceInfoList& list) {
  std::vector<std::string> names;
  for (const DeviceInfo& device : list) names.push_back(ConvertWideToUtf8(device.name.c_str()));
  std::sort(names.begin(), names.end());
  return names;
}

// scripts/wine-prefix.sh makes these ALSA capture devices; Wine lists them as endpoints.
inline std::vector<std::string> FixtureMicrophones() {
  return {"In: ArrayMic", "In: DeskMic", "In: Headset", "In: default"};
}

}  // namespace kestrel_test
