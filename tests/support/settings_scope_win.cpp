// The settings in the registry, under the library's key path below HKEY_CURRENT_USER and
// HKEY_LOCAL_MACHINE. The build's Wine prefix is private and the test programs run one at a
// time, so nothing else keeps values there. Texts are converted by the system, not by the
// library under test.
#include <windows.h>

#include <gtest/gtest.h>

#include <vector>

#include "prefs/reg_utils.h"
#include "support/settings_scope.h"

namespace kestrel_test {
namespace {

HKEY Root(Store store) { return store == Store::User ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE; }

std::wstring Wide(const std::string& text) {
  std::wstring wide(text.size(), L'\0');
  wide.resize(MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                  wide.data(), static_cast<int>(wide.size())));
  return wide;
}

}  // namespace

void SettingsScope::Clear() {
  for (Store store : {Store::User, Store::Machine})
    RegDeleteTreeW(Root(store), L"Software\\Corvane");
}

void SettingsScope::PutBytes(Store store, const char* name, unsigned long type,
                             const std::string& bytes) {
  // The registry adds a NUL to a text whose data is followed by a zero unit in memory.
  const std::string data = bytes + "gg";
  EXPECT_EQ(RegSetKeyValueW(Root(store), kKestrelKeyPath, Wide(name).c_str(), type, data.data(),
                            static_cast<DWORD>(bytes.size())),
            0);
}

void SettingsScope::PutText(Store store, const char* name, const std::string& text) {
  const std::wstring units = Wide(text);
  PutBytes(store, name, REG_SZ,
           std::string(reinterpret_cast<const char*>(units.c_str()), (units.size() + 1) * 2));
}

void SettingsScope::PutNumber(Store store, const char* name, std::uint32_t value) {
  PutBytes(store, name, REG_DWORD, std::string(reinterpret_cast<const char*>(&value), 4));
}

void SettingsScope::Remove(Store store, const char* name) {
  RegDeleteKeyValueW(Root(store), kKestrelKeyPath, Wide(name).c_str());
}

// The library stores a text as REG_SZ, its terminating NUL within the data.
std::optional<std::string> SettingsScope::Read(Store store, const char* name) {
  std::vector<wchar_t> units(2048);
  DWORD type = REG_NONE, size = static_cast<DWORD>(units.size() * sizeof(wchar_t));
  if (RegGetValueW(Root(store), kKestrelKeyPath, Wide(name).c_str(), RRF_RT_ANY | RRF_NOEXPAND,
                   &type, units.data(), &size) != 0) {
    return std::nullopt;
  }
  if (type != REG_SZ || size % 2 != 0) return "<not a REG_SZ>";
  const int length = static_cast<int>(size / 2) - 1;
  if (length < 0 || units[length] != L'\0') return "<no NUL>";
  std::string text(length * 3, '\0');
  text.resize(WideCharToMultiByte(CP_UTF8, 0, units.data(), length, text.data(),
                                  static_cast<int>(text.size()), nullptr, nullptr));
  return text;
}

}  // namespace kestrel_test
