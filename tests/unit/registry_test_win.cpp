// Registry access against Wine's real registry.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "prefs/reg_utils.h"
#include "support/log_capture.h"
#include "support/settings_scope.h"

namespace kestrel_test {
namespace {

const HKEY kUser = HKEY_CURRENT_USER;

TEST(RegUtilsRead, TextsEndAtTheirDataOrFirstNulAndLongOnesGiveTheDefault) {
  SettingsScope scope;
  struct Case {
    const char* what;
    std::wstring units;
    std::size_t strayBytes;
    std::wstring expected;
  };
  const Case cases[] = {
      {"terminated", std::wstring(L"abc\0", 4), 0, L"abc"},
      {"a stray odd byte is no unit", L"abc", 1, L"abc"},
      {"260 units without NUL", std::wstring(260, L'a'), 0, std::wstring(260, L'a')},
      {"261 units", std::wstring(261, L'a'), 0, L"dflt"},
      {"260 units and NUL", std::wstring(260, L'a') + L'\0', 0, L"dflt"},
      {"empty", std::wstring(L"\0", 1), 0, L"dflt"},
  };
  for (const Case& c : cases) {  // exactly these units, no NUL added, and the stray bytes
    std::string bytes(reinterpret_cast<const char*>(c.units.data()), c.units.size() * 2);
    bytes.append(c.strayBytes, 'x');
    SettingsScope::PutBytes(Store::User, "v", REG_SZ, bytes);
    EXPECT_EQ(RegUtils::GetString(kUser, kKestrelKeyPath, L"v", L"dflt", true), c.expected)
        << c.what;
  }
  SettingsScope::Remove(Store::User, "v");
  EXPECT_EQ(RegUtils::GetString(kUser, kKestrelKeyPath, L"v", L"dflt", true), L"dflt");
}

TEST(RegUtilsRead, BooleansAndNumbers) {
  SettingsScope scope;
  struct Case {
    std::optional<std::string> text;  // nullopt: the DWORD below; both absent: no value
    std::optional<DWORD> number;
    bool boolFromFalse, boolFromTrue;  // GetBOOL with default false, with default true
    DWORD dword;                       // GetDWORD with default 9
  };
  // How a text reads as a switch or a number is the settings files' rule, fuzzed on Linux
  // (tests/fuzz/registry_text_fuzz.cpp): a row each for the text path here.
  const Case cases[] = {
      {std::nullopt, 0, false, false, 0}, {std::nullopt, 2, true, true, 2},
      {"TRUE", {}, true, true, 0},        {"-1", {}, true, true, 4294967295u},
      {"Default", {}, false, false, 9},   {"default", {}, false, false, 0},
      {"", {}, false, true, 9},           {std::nullopt, {}, false, true, 9},
  };
  for (const Case& c : cases) {
    SettingsScope::Remove(Store::User, "v");
    if (c.text) SettingsScope::PutText(Store::User, "v", *c.text);
    if (c.number) SettingsScope::PutNumber(Store::User, "v", *c.number);
    const std::string what = c.text ? *c.text : c.number ? std::to_string(*c.number) : "absent";
    EXPECT_EQ(RegUtils::GetBOOL(kUser, kKestrelKeyPath, L"v", false), c.boolFromFalse) << what;
    EXPECT_EQ(RegUtils::GetBOOL(kUser, kKestrelKeyPath, L"v", true), c.boolFromTrue) << what;
    EXPECT_EQ(RegUtils::GetDWORD(kUser, kKestrelKeyPath, L"v", 9), c.dword) << what;
    bool stored = false;  // a value there, even a text, is the store's and not the default
    RegUtils::GetBOOL(kUser, kKestrelKeyPath, L"v", false, &stored);
    EXPECT_EQ(stored, c.text || c.number) << what;
  }
}

TEST(RegUtilsRead, AMissingKeyGivesDefaultsAndIsNoError) {
  SettingsScope scope;
  DrainLibraryLog();
  const HKEY bad = reinterpret_cast<HKEY>(0x1234);
  // A missing key, then a missing value: no error; any other failure to open: an error a read.
  for (const auto& [root, errors] : {std::pair{kUser, 0u}, {kUser, 0u}, {bad, 3u}}) {
    EXPECT_TRUE(RegUtils::GetBOOL(root, kKestrelKeyPath, L"v", true));
    EXPECT_EQ(RegUtils::GetDWORD(root, kKestrelKeyPath, L"v", 9), 9u);
    EXPECT_EQ(RegUtils::GetString(root, kKestrelKeyPath, L"v", L"d", true), L"d");
    EXPECT_EQ(DrainLibraryLog().size(), errors);
    SettingsScope::PutNumber(Store::User, "other", 1);
  }
}

// A caller's only view of why a default applied or what was written: each line whole.
TEST(RegUtils, ReadsAndWritesAreLoggedWithTheirRootKeyValueAndCode) {
  SettingsScope scope;
  const HKEY bad = reinterpret_cast<HKEY>(0x1234);
  const ScopedLogThreshold debug;
  RegUtils::GetBOOL(kUser, kKestrelKeyPath, L"v", false);  // no key yet
  RegUtils::GetDWORD(bad, kKestrelKeyPath, L"v", 0);
  RegUtils::SetString(bad, kKestrelKeyPath, L"v", L"x");
  RegUtils::SetDWORD(kUser, kKestrelKeyPath, L"v", 4294967295u);
  RegUtils::SetString(kUser, kKestrelKeyPath, L"w", L"x y");
  SettingsScope::PutText(Store::User, "w", std::string(261, 'a'));
  RegUtils::GetString(kUser, kKestrelKeyPath, L"w", L"d", true);
  const std::string key = "Software\\Corvane\\Meridel\\Kestrel";
  EXPECT_EQ(debug.Lines(),
            "verbose prefs: RegUtils::GetBOOL - key " + key + " not exists\n" +
                "error prefs: RegUtils::GetDWORD - Failed to open key another root\\" + key +
                " with error 6\n" + "error prefs: RegUtils::SetString - Failed to create key " +
                "another root\\" + key + " with error 6\n" +
                "trivia prefs: RegUtils::SetDWORD - HKEY_CURRENT_USER\\" + key +
                ": v = 4294967295 stored\n" +
                "trivia prefs: RegUtils::SetString - HKEY_CURRENT_USER\\" + key +
                ": w = 'x y' stored\n" +
                "error prefs: RegUtils::QueryString - Failed to read value w with error 234: "
                "the default applies\n");
}

TEST(RegUtils, EveryCallClosesTheKeyItOpened) {
  SettingsScope scope;
  SettingsScope::PutNumber(Store::User, "v", 1);
  const std::function<void()> calls[] = {
      [] { RegUtils::GetBOOL(kUser, kKestrelKeyPath, L"v", false); },
      [] { RegUtils::GetDWORD(kUser, kKestrelKeyPath, L"v", 0); },
      [] { RegUtils::GetString(kUser, kKestrelKeyPath, L"v", L"", true); },
      [] { RegUtils::SetDWORD(kUser, kKestrelKeyPath, L"v", 2); },
      [] { RegUtils::SetString(kUser, kKestrelKeyPath, L"w", L"x"); },
  };
  // A key left open takes the handle slot that the probe gets back otherwise.
  auto probe = [] {
    HKEY key = nullptr;
    RegOpenKeyExW(kUser, L"Software", 0, KEY_READ, &key);
    RegCloseKey(key);
    return key;
  };
  for (std::size_t i = 0; i < std::size(calls); ++i) {
    const HKEY before = probe();
    calls[i]();
    EXPECT_EQ(probe(), before) << "call " << i;
  }
}

}  // namespace
}  // namespace kestrel_test
