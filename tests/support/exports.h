// Helpers for tests of the exported calls, which are linked into the test program from
// the DLL's own source.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/text_utils.h"
#include "kestrelCliLib.h"

namespace kestrel_test {

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
  std::uint32_t count = 0;
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

inline std::string PreferredText(MmdrHandle* handle, MmdrDeviceKind kind, MmdrPrefField field) {
  char text[MMDR_TEXT_FIELD_SIZE] = {};
  const MmdrResult result = Mmdr_GetPrefDev(handle, kind, field, text);
  return result == MMDR_OK ? text : "code " + std::to_string(result);
}

}  // namespace kestrel_test
