// Registry values for the prefs tests' tables: what a case stores under the key path.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "support/registry_scratch.h"

namespace kestrel_test {

struct StoredValue {
  std::string label;  // for failure messages
  bool present = true;
  DWORD type = REG_NONE;
  std::vector<std::uint8_t> bytes;
};

inline std::vector<std::uint8_t> TextBytes(const std::wstring& units) {
  const auto* first = reinterpret_cast<const std::uint8_t*>(units.data());
  return std::vector<std::uint8_t>(first, first + units.size() * sizeof(wchar_t));
}

inline StoredValue Missing() { return {"missing", false, REG_NONE, {}}; }

inline StoredValue Dword(DWORD value) {
  const auto* first = reinterpret_cast<const std::uint8_t*>(&value);
  return {"REG_DWORD " + std::to_string(value), true, REG_DWORD,
          std::vector<std::uint8_t>(first, first + sizeof value)};
}

inline StoredValue Qword(std::uint64_t value) {
  const auto* first = reinterpret_cast<const std::uint8_t*>(&value);
  return {"REG_QWORD " + std::to_string(value), true, REG_QWORD,
          std::vector<std::uint8_t>(first, first + sizeof value)};
}

// Text with its terminating NUL (units may hold NULs of their own, e.g. a multi-string).
inline StoredValue Text(const std::wstring& units, DWORD type = REG_SZ) {
  std::wstring terminated = units;
  terminated.push_back(L'\0');
  return {"text of " + std::to_string(units.size()) + " units, type " + std::to_string(type),
          true, type, TextBytes(terminated)};
}

inline StoredValue Unterminated(const std::wstring& units, DWORD type = REG_SZ) {
  return {"unterminated text of " + std::to_string(units.size()) + " units", true, type,
          TextBytes(units)};
}

inline StoredValue Raw(std::string label, DWORD type, std::vector<std::uint8_t> bytes) {
  return {std::move(label), true, type, std::move(bytes)};
}

inline void Store(ScopedRegistryValue& slot, const StoredValue& value) {
  if (value.present) {
    slot.SetRaw(value.type, value.bytes);
  } else {
    slot.Remove();
  }
}

// Distinct, non-NUL code units (some outside ASCII), so a cut or an overrun shows.
inline std::wstring DistinctText(std::size_t length) {
  std::wstring text;
  for (std::size_t i = 0; i < length; ++i) {
    text.push_back(i % 7 == 6 ? static_cast<wchar_t>(0x0400 + i % 50)
                              : static_cast<wchar_t>(L'A' + i % 26));
  }
  return text;
}

}  // namespace kestrel_test
