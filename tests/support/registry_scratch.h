// Registry fixtures for tests: put a value of any type (or raw bytes) under the
// library's key path, or make the key path absent, for the length of one scope; the
// destructor puts back exactly what was there before (the value absent, or its old
// type and bytes) and deletes the key components that the scope created, once they
// are empty again. All access names the registry view explicitly (64-bit by default).
//
//   ScopedRegistryValue wasapi(HKEY_LOCAL_MACHINE, L"EnableAInWasapi");
//   wasapi.SetDword(0);            // or SetString(L"false"), SetRaw(REG_BINARY, bytes), Remove()
//
//   ScopedRegistryKeyAbsent noMachineKey(HKEY_LOCAL_MACHINE);  // key path gone until scope ends
//
// Failures of the registry calls are reported as non-fatal test failures.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "prefs/reg_utils.h"

namespace kestrel_test {

// A value's type and exact bytes as the registry holds them.
struct RegistryValueData {
  DWORD type = REG_NONE;
  std::vector<std::uint8_t> bytes;
};

// Reads a value without any of the library's rules; nullopt when the key or value is
// missing.
std::optional<RegistryValueData> ReadRegistryValue(HKEY root, const std::wstring& subKey,
                                                   const std::wstring& valueName,
                                                   REGSAM view = KEY_WOW64_64KEY);
bool RegistryKeyExists(HKEY root, const std::wstring& subKey, REGSAM view = KEY_WOW64_64KEY);

class ScopedRegistryValue {
 public:
  ScopedRegistryValue(HKEY root, std::wstring valueName,
                      std::wstring subKey = kKestrelKeyPath, REGSAM view = KEY_WOW64_64KEY);
  ~ScopedRegistryValue();
  ScopedRegistryValue(const ScopedRegistryValue&) = delete;
  ScopedRegistryValue& operator=(const ScopedRegistryValue&) = delete;

  void SetDword(DWORD value);
  void SetQword(std::uint64_t value);
  // REG_SZ (or the given type) with its terminating NUL.
  void SetString(const std::wstring& text, DWORD type = REG_SZ);
  // Exactly these bytes, never a terminator added by the registry: any byte count,
  // odd ones included.
  void SetRaw(DWORD type, const void* data, std::size_t byteCount);
  void SetRaw(DWORD type, const std::vector<std::uint8_t>& bytes);
  // Text stored as exactly these code units, without a terminating NUL.
  void SetUnterminated(const std::wstring& codeUnits, DWORD type = REG_SZ);
  void Remove();

 private:
  HKEY root_;
  std::wstring subKey_;
  std::wstring valueName_;
  REGSAM view_;
  std::optional<RegistryValueData> previous_;
  std::wstring firstCreatedComponent_;  // empty when the whole path existed
};

// Deletes the key path (its values and subkeys) for the scope and restores the
// saved tree afterwards.
class ScopedRegistryKeyAbsent {
 public:
  explicit ScopedRegistryKeyAbsent(HKEY root, std::wstring subKey = kKestrelKeyPath,
                                   REGSAM view = KEY_WOW64_64KEY);
  ~ScopedRegistryKeyAbsent();
  ScopedRegistryKeyAbsent(const ScopedRegistryKeyAbsent&) = delete;
  ScopedRegistryKeyAbsent& operator=(const ScopedRegistryKeyAbsent&) = delete;

  struct SavedKey {
    std::wstring relativePath;  // below subKey; empty for subKey itself
    std::vector<std::pair<std::wstring, RegistryValueData>> values;
  };

 private:
  HKEY root_;
  std::wstring subKey_;
  REGSAM view_;
  bool existed_ = false;
  std::wstring firstRecreatedComponent_;
  std::vector<SavedKey> saved_;
};

}  // namespace kestrel_test
