// Reading device lists in tests, from the enumerators and through the exported calls
// (which interface tests link in from the DLL's own source), and the microphones of the
// build's Wine prefix.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <filesystem>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "core/utf8.h"
#include "devices/device_info.h"
#include "kestrelCliLib.h"

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

class ScopedMmdrHandle {
 public:
  ScopedMmdrHandle() { EXPECT_EQ(Mmdr_Init(MMDR_MODE_1, &handle_), MMDR_OK); }
  ~ScopedMmdrHandle() { Mmdr_Uninit(handle_); }
  ScopedMmdrHandle(const ScopedMmdrHandle&) = delete;
  ScopedMmdrHandle& operator=(const ScopedMmdrHandle&) = delete;
  MmdrHandle* get() const { return handle_; }

 private:
  MmdrHandle* handle_ = nullptr;
};

using Entry = std::pair<std::string, std::string>;  // id, name

// The two-call pattern; each field read up to its first zero byte.
inline std::vector<Entry> Enumerate(MmdrHandle* handle, MmdrDeviceKind kind) {
  std::uint32_t count = 77;  // a guard: every call that gets this far writes the count
  const MmdrResult first = Mmdr_EnumDevices(handle, kind, 0, nullptr, &count);
  EXPECT_EQ(first, count == 0 ? MMDR_OK : MMDR_BUFFER_TOO_SMALL);
  std::vector<MmdrDeviceEntry> entries(count, MmdrDeviceEntry{});
  EXPECT_EQ(Mmdr_EnumDevices(handle, kind, count * MMDR_ENTRY_SIZE, entries.data(), &count),
            MMDR_OK);
  std::vector<Entry> out;
  for (const MmdrDeviceEntry& e : entries) out.push_back({e.id, e.name});
  return out;
}

inline std::vector<std::string> SortedNames(const std::vector<Entry>& entries) {
  std::vector<std::string> names;
  for (const Entry& entry : entries) names.push_back(entry.second);
  std::sort(names.begin(), names.end());
  return names;
}

// How many entries a folder holds: /proc/self/fd's open descriptors, /proc/self/task's threads.
inline std::ptrdiff_t EntriesIn(const char* folder) {
  return std::distance(std::filesystem::directory_iterator(folder), {});
}

inline std::string PreferredText(MmdrHandle* handle, MmdrDeviceKind kind, MmdrPrefField field) {
  char text[MMDR_TEXT_FIELD_SIZE] = {};
  const MmdrResult result = Mmdr_GetPrefDev(handle, kind, field, text);
  return result == MMDR_OK ? text : "code " + std::to_string(result);
}

}  // namespace kestrel_test
