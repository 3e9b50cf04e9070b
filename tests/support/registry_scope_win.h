// The library's registry values for one test: its key path is deleted under
// HKEY_CURRENT_USER and HKEY_LOCAL_MACHINE when the scope starts and when it ends. The
// build's Wine prefix is private and the test programs run one at a time, so nothing
// else keeps values there.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "prefs/reg_utils.h"

namespace kestrel_test {

struct RegistryValue {
  DWORD type = REG_NONE;
  std::vector<std::uint8_t> bytes;
};

struct KestrelRegistryScope {
  KestrelRegistryScope() { Clear(); }
  ~KestrelRegistryScope() { Clear(); }

  static void Clear() {
    for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE})
      RegDeleteTreeW(root, L"Software\\Corvane");
  }
  // Exactly these bytes: odd counts and texts without a NUL stay as they are.
  static void Put(HKEY root, const wchar_t* name, DWORD type, const void* data, std::size_t size) {
    // The registry adds a NUL to a text whose data is followed by a zero unit in memory.
    std::vector<std::uint8_t> bytes(static_cast<const std::uint8_t*>(data),
                                    static_cast<const std::uint8_t*>(data) + size);
    bytes.insert(bytes.end(), {'g', 'g'});
    EXPECT_EQ(
        RegSetKeyValueW(root, kKestrelKeyPath, name, type, bytes.data(), static_cast<DWORD>(size)),
        0);
  }
  static void PutString(HKEY root, const wchar_t* name, const std::wstring& text) {
    Put(root, name, REG_SZ, text.c_str(), (text.size() + 1) * sizeof(wchar_t));
  }
  static void PutDword(HKEY root, const wchar_t* name, DWORD value) {
    Put(root, name, REG_DWORD, &value, sizeof value);
  }
  static void Remove(HKEY root, const wchar_t* name) {
    RegDeleteKeyValueW(root, kKestrelKeyPath, name);
  }
  // Type and bytes as stored, without the registry's own rules.
  static std::optional<RegistryValue> Read(HKEY root, const wchar_t* name) {
    RegistryValue value;
    value.bytes.resize(4096);
    DWORD size = static_cast<DWORD>(value.bytes.size());
    if (RegGetValueW(root, kKestrelKeyPath, name, RRF_RT_ANY | RRF_NOEXPAND, &value.type,
                     value.bytes.data(), &size) != 0) {
      return std::nullopt;
    }
    value.bytes.resize(size);
    return value;
  }
};

}  // namespace kestrel_test
