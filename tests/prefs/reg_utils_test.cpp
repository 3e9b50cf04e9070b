// RegUtils against Wine's real registry. Every test starts from a key path that does
// not exist under either root and leaves the registry as it found it.
#include "prefs/reg_utils.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "log/log.h"
#include "prefs/registry_values.h"
#include "support/log_capture.h"
#include "support/registry_scratch.h"

namespace kestrel_test {
namespace {

constexpr wchar_t kValueName[] = L"RegUtilsTestValue";
constexpr wchar_t kDefaultText[] = L"dflt";
// No root this process has opened; the registry answers ERROR_INVALID_HANDLE.
const HKEY kInvalidRoot = reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x1234));

class RegUtilsTest : public testing::Test {
 protected:
  ScopedRegistryKeyAbsent noUserKey_{HKEY_CURRENT_USER};
  ScopedRegistryKeyAbsent noMachineKey_{HKEY_LOCAL_MACHINE};
  ScopedRegistryValue value_{HKEY_CURRENT_USER, kValueName};
};

TEST_F(RegUtilsTest, GetBoolReadsNumbersAndTextByTheirRules) {
  const struct {
    StoredValue stored;
    bool withDefaultFalse;
    bool withDefaultTrue;
  } cases[] = {
      {Dword(0), false, false},
      {Dword(1), true, true},
      {Dword(0x80000000u), true, true},
      {Raw("2-byte REG_DWORD 1", REG_DWORD, {1, 0}), true, true},
      {Text(L"TRUE"), true, true},
      {Text(L"tRuE"), true, true},
      {Text(L"false"), false, false},
      {Text(L"0"), false, false},
      {Text(L"1"), true, true},  // 4 bytes, like a number: the type decides
      {Text(L"2"), true, true},
      {Text(L"-1"), true, true},
      {Text(L"on"), false, false},
      {Text(L" true"), false, false},
      {Text(L""), false, true},
      {Missing(), false, true},
      {Text(DistinctText(300)), false, true},
      {Text(L"TRUE", REG_EXPAND_SZ), true, true},
      {Text(std::wstring(L"0\0" L"1\0", 4), REG_MULTI_SZ), false, false},
      {Raw("REG_BINARY holding the text 1", REG_BINARY, TextBytes(L"1")), true, true},
      {Raw("empty REG_BINARY", REG_BINARY, {}), false, true},
      {Qword(1), false, false},  // read as text: U+0001 is no digit
      {Raw("REG_DWORD_BIG_ENDIAN 1", REG_DWORD_BIG_ENDIAN, {0, 0, 0, 1}), false, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.stored.label);
    Store(value_, c.stored);
    EXPECT_EQ(RegUtils::GetBOOL(HKEY_CURRENT_USER, kKestrelKeyPath, kValueName, false),
              c.withDefaultFalse);
    EXPECT_EQ(RegUtils::GetBOOL(HKEY_CURRENT_USER, kKestrelKeyPath, kValueName, true),
              c.withDefaultTrue);
  }
}

TEST_F(RegUtilsTest, GetDwordReadsNumbersAndTextByTheirRules) {
  constexpr DWORD kDefault = 99;
  const struct {
    StoredValue stored;
    DWORD expected;
  } cases[] = {
      {Dword(7), 7},
      {Dword(0), 0},
      {Dword(4294967295u), 4294967295u},
      {Text(L"2"), 2},
      {Text(L"42abc"), 42},
      {Text(L"Default"), kDefault},
      {Text(L"default"), 0},
      {Text(L"DEFAULT"), 0},
      {Text(L""), kDefault},
      {Text(L"-1"), 4294967295u},
      {Text(L"abc"), 0},
      {Missing(), kDefault},
      {Text(DistinctText(261)), kDefault},
      {Text(L"12", REG_EXPAND_SZ), 12},
      {Text(std::wstring(L"12\0" L"34\0", 6), REG_MULTI_SZ), 12},
      {Raw("REG_BINARY holding Default", REG_BINARY, TextBytes(L"Default")), kDefault},
      {Qword(5), 0},  // read as text: U+0005 is no digit
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.stored.label);
    Store(value_, c.stored);
    EXPECT_EQ(RegUtils::GetDWORD(HKEY_CURRENT_USER, kKestrelKeyPath, kValueName, kDefault),
              c.expected);
  }
}

TEST_F(RegUtilsTest, GetStringNeverReadsPastTheDataNorMoreThan260Units) {
  const struct {
    std::size_t length;
    bool terminated;
    bool fits;  // within the 520-byte read buffer
  } cases[] = {
      {1, false, true},     {258, true, true},   {258, false, true},  {259, true, true},
      {259, false, true},   {260, true, false},  {260, false, true},  {261, true, false},
      {261, false, false},
  };
  for (const auto& c : cases) {
    const std::wstring text = DistinctText(c.length);
    const StoredValue stored = c.terminated ? Text(text) : Unterminated(text);
    SCOPED_TRACE(stored.label);
    Store(value_, stored);
    const std::wstring read =
        RegUtils::GetString(HKEY_CURRENT_USER, kKestrelKeyPath, kValueName, kDefaultText, true);
    EXPECT_EQ(read, c.fits ? text : std::wstring(kDefaultText));
  }
}

TEST_F(RegUtilsTest, GetStringTakesWholeCodeUnitsOnlyAndStopsAtTheFirstNul) {
  const std::vector<std::uint8_t> abcTerminated = TextBytes(std::wstring(L"abc\0", 4));
  std::vector<std::uint8_t> fullBuffer = TextBytes(DistinctText(260));
  fullBuffer.pop_back();  // 519 bytes: 259 whole units and a stray byte
  const struct {
    StoredValue stored;
    std::wstring expected;
  } cases[] = {
      {Raw("7 bytes: abc and half a NUL", REG_SZ,
           std::vector<std::uint8_t>(abcTerminated.begin(), abcTerminated.end() - 1)),
       L"abc"},
      {Raw("5 bytes: ab and half a c", REG_SZ, {'a', 0, 'b', 0, 'c'}), L"ab"},
      {Raw("1 byte", REG_SZ, {'a'}), kDefaultText},
      {Raw("519 bytes", REG_SZ, fullBuffer), DistinctText(259)},
      {Raw("521 bytes", REG_SZ, [] {
         std::vector<std::uint8_t> bytes = TextBytes(DistinctText(260));
         bytes.push_back('x');
         return bytes;
       }()),
       kDefaultText},
      {Text(std::wstring(L"ab\0cd", 5)), L"ab"},
      {Text(std::wstring(L"\0cd", 3)), kDefaultText},
      {Text(L"Mikrofon \u00DC \xD83C\xDFA4"), L"Mikrofon \u00DC \xD83C\xDFA4"},
      {Text(L""), kDefaultText},
      {Missing(), kDefaultText},
      // Every type is read as UTF-16 text.
      {Dword(0x00420041u), L"AB"},
      {Text(std::wstring(L"first\0second\0", 13), REG_MULTI_SZ), L"first"},
      {Text(L"%SystemRoot%\\x", REG_EXPAND_SZ), L"%SystemRoot%\\x"},
      {Raw("REG_BINARY", REG_BINARY, TextBytes(L"bin")), L"bin"},
      {Qword(0x0000004400430042ull), L"BCD"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.stored.label);
    Store(value_, c.stored);
    EXPECT_EQ(RegUtils::GetString(HKEY_CURRENT_USER, kKestrelKeyPath, kValueName, kDefaultText,
                                  true),
              c.expected);
  }
}

TEST_F(RegUtilsTest, QueryStringAlwaysSetsItsOutputAndReportsTheQueryResult) {
  const struct {
    StoredValue stored;
    LONG status;
    std::wstring expected;
  } cases[] = {
      {Text(L"abc"), ERROR_SUCCESS, L"abc"},
      {Text(L""), ERROR_SUCCESS, kDefaultText},
      {Missing(), ERROR_FILE_NOT_FOUND, kDefaultText},
      {Text(DistinctText(300)), ERROR_MORE_DATA, kDefaultText},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.stored.label);
    Store(value_, c.stored);
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kKestrelKeyPath, 0, nullptr, 0,
                              KEY_QUERY_VALUE | KEY_WOW64_64KEY, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    std::wstring out = L"left over from before";
    EXPECT_EQ(RegUtils::QueryString(key, kValueName, out, kDefaultText), c.status);
    EXPECT_EQ(out, c.expected);
    RegCloseKey(key);
  }
}

TEST_F(RegUtilsTest, ReadersReturnTheirDefaultsWhenTheKeyIsMissing) {
  ASSERT_FALSE(RegistryKeyExists(HKEY_CURRENT_USER, kKestrelKeyPath));
  for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, kInvalidRoot}) {
    EXPECT_TRUE(RegUtils::GetBOOL(root, kKestrelKeyPath, kValueName, true));
    EXPECT_FALSE(RegUtils::GetBOOL(root, kKestrelKeyPath, kValueName, false));
    EXPECT_EQ(RegUtils::GetDWORD(root, kKestrelKeyPath, kValueName, 17), 17u);
    EXPECT_EQ(RegUtils::GetString(root, kKestrelKeyPath, kValueName, kDefaultText, true),
              kDefaultText);
    EXPECT_EQ(RegUtils::GetString(root, kKestrelKeyPath, kValueName, kDefaultText, false),
              kDefaultText);
  }
}

TEST_F(RegUtilsTest, ReadersUseThe64BitViewWhateverTheProcess) {
  ScopedRegistryKeyAbsent no32BitKey(HKEY_LOCAL_MACHINE, kKestrelKeyPath, KEY_WOW64_32KEY);
  ScopedRegistryValue view64(HKEY_LOCAL_MACHINE, kValueName, kKestrelKeyPath, KEY_WOW64_64KEY);
  ScopedRegistryValue view32(HKEY_LOCAL_MACHINE, kValueName, kKestrelKeyPath, KEY_WOW64_32KEY);
  view32.SetString(L"32-bit view");
  ASSERT_FALSE(ReadRegistryValue(HKEY_LOCAL_MACHINE, kKestrelKeyPath, kValueName,
                                 KEY_WOW64_64KEY))
      << "the registry does not keep the two views apart";

  // Only the 32-bit view holds the value: the flagged readers do not see it.
  EXPECT_EQ(RegUtils::GetString(HKEY_LOCAL_MACHINE, kKestrelKeyPath, kValueName, kDefaultText,
                                true),
            kDefaultText);
  EXPECT_EQ(RegUtils::GetDWORD(HKEY_LOCAL_MACHINE, kKestrelKeyPath, kValueName, 3), 3u);

  view64.SetString(L"64-bit view");
  EXPECT_EQ(RegUtils::GetString(HKEY_LOCAL_MACHINE, kKestrelKeyPath, kValueName, kDefaultText,
                                true),
            L"64-bit view");
  // Without the flag the process's own view is read.
#if defined(_WIN64)
  const wchar_t* const nativeView = L"64-bit view";
#else
  const wchar_t* const nativeView = L"32-bit view";
#endif
  EXPECT_EQ(RegUtils::GetString(HKEY_LOCAL_MACHINE, kKestrelKeyPath, kValueName, kDefaultText,
                                false),
            nativeView);
}

TEST_F(RegUtilsTest, WritesCreateTheKeyWithItsParents) {
  {
    ScopedRegistryKeyAbsent noVendorKey(HKEY_CURRENT_USER, L"Software\\Corvane");
    ASSERT_TRUE(
        RegUtils::SetDWORD(HKEY_CURRENT_USER, kKestrelKeyPath, kValueName, 0xA1B2C3D4u));
    std::optional<RegistryValueData> number =
        ReadRegistryValue(HKEY_CURRENT_USER, kKestrelKeyPath, kValueName);
    ASSERT_TRUE(number);
    EXPECT_EQ(number->type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(number->bytes, Dword(0xA1B2C3D4u).bytes);
  }
  {
    ScopedRegistryKeyAbsent noVendorKey(HKEY_CURRENT_USER, L"Software\\Corvane");
    ASSERT_TRUE(RegUtils::SetString(HKEY_CURRENT_USER, kKestrelKeyPath, kValueName, L"x\u00FF"));
    std::optional<RegistryValueData> text =
        ReadRegistryValue(HKEY_CURRENT_USER, kKestrelKeyPath, kValueName);
    ASSERT_TRUE(text);
    EXPECT_EQ(text->type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(text->bytes, Text(L"x\u00FF").bytes);  // the code units and one NUL
  }
}

TEST_F(RegUtilsTest, WritesReplaceAValueOfAnotherType) {
  value_.SetRaw(REG_BINARY, {1, 2, 3});
  ASSERT_TRUE(RegUtils::SetDWORD(HKEY_CURRENT_USER, kKestrelKeyPath, kValueName, 2));
  EXPECT_EQ(ReadRegistryValue(HKEY_CURRENT_USER, kKestrelKeyPath, kValueName)->type,
            static_cast<DWORD>(REG_DWORD));
  ASSERT_TRUE(RegUtils::SetString(HKEY_CURRENT_USER, kKestrelKeyPath, kValueName, L"2"));
  EXPECT_EQ(ReadRegistryValue(HKEY_CURRENT_USER, kKestrelKeyPath, kValueName)->type,
            static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(RegUtils::GetDWORD(HKEY_CURRENT_USER, kKestrelKeyPath, kValueName, 0), 2u);
}

TEST_F(RegUtilsTest, FailedWritesReportFalseAndLogNothing) {
  DrainLibraryLog();
  ScopedLibraryLogThreshold tracing(7);
  EXPECT_FALSE(RegUtils::SetDWORD(kInvalidRoot, kKestrelKeyPath, kValueName, 1));
  EXPECT_FALSE(RegUtils::SetString(kInvalidRoot, kKestrelKeyPath, kValueName, L"x"));
  EXPECT_TRUE(DrainLibraryLog().empty());
}

TEST_F(RegUtilsTest, SetStringThenGetStringGivesTheSameText) {
  std::wstring longest = DistinctText(257) + L"\xD83C\xDFA5";  // a pair in the last two units
  const std::wstring texts[] = {
      L"a",
      L"USB Mikrofon \u00C4\u00D6\u00DC \u4E2D\u6587 \u0645\u064A\u0643",
      L"cam \xD83C\xDFA5 \xD83D\xDE00",
      L"\\\\?\\usb#vid_046d&pid_0825#5&1b2c3d4&0&2#{65e8773d-8f56-11d0-a3b9-00a0c9223196}\\global",
      L"100% %s%n",
      longest,
  };
  for (const std::wstring& text : texts) {
    SCOPED_TRACE(text.size());
    ASSERT_TRUE(RegUtils::SetString(HKEY_CURRENT_USER, kKestrelKeyPath, kValueName, text));
    EXPECT_EQ(RegUtils::GetString(HKEY_CURRENT_USER, kKestrelKeyPath, kValueName, kDefaultText,
                                  true),
              text);
  }
  // An empty text is stored as a lone NUL and reads as the default.
  ASSERT_TRUE(RegUtils::SetString(HKEY_CURRENT_USER, kKestrelKeyPath, kValueName, L""));
  EXPECT_EQ(ReadRegistryValue(HKEY_CURRENT_USER, kKestrelKeyPath, kValueName)->bytes.size(), 2u);
  EXPECT_EQ(RegUtils::GetString(HKEY_CURRENT_USER, kKestrelKeyPath, kValueName, kDefaultText,
                                true),
            kDefaultText);
}

TEST_F(RegUtilsTest, EveryCallClosesTheKeyItOpened) {
  // The process's handle table hands out its lowest free entry (handle counts are not
  // reported under Wine), so a key left open anywhere moves the next handle's value.
  auto nextHandleValue = [] {
    HANDLE probe = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    EXPECT_NE(probe, nullptr);
    CloseHandle(probe);
    return reinterpret_cast<ULONG_PTR>(probe);
  };
  auto exerciseEveryPath = [] {
    for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {  // key present, key missing
      RegUtils::GetBOOL(root, kKestrelKeyPath, kValueName, false);
      RegUtils::GetBOOL(root, kKestrelKeyPath, L"NoSuchValue", false);
      RegUtils::GetDWORD(root, kKestrelKeyPath, kValueName, 0);
      RegUtils::GetString(root, kKestrelKeyPath, kValueName, L"", true);
      RegUtils::GetString(root, kKestrelKeyPath, kValueName, L"", false);
    }
    RegUtils::SetDWORD(HKEY_CURRENT_USER, kKestrelKeyPath, kValueName, 1);
    RegUtils::SetString(HKEY_CURRENT_USER, kKestrelKeyPath, kValueName, L"true");
  };
  value_.SetString(L"true");
  exerciseEveryPath();  // lets the process settle any one-time handles
  const ULONG_PTR before = nextHandleValue();
  for (int i = 0; i < 50; ++i) exerciseEveryPath();
  EXPECT_EQ(nextHandleValue(), before);
}

// The log lines of GetBOOL: a missing key is tracing (level 6, dropped by the built-in
// configuration), any other open failure an error (level 2, recorded).
TEST_F(RegUtilsTest, GetBoolLogsWhyTheKeyCouldNotBeOpened) {
  DrainLibraryLog();
  RegUtils::GetBOOL(HKEY_LOCAL_MACHINE, kKestrelKeyPath, L"IsDisabled", false);
  EXPECT_TRUE(DrainLibraryLog().empty()) << "level 6 must be dropped by default";

  RegUtils::GetBOOL(kInvalidRoot, kKestrelKeyPath, L"IsDisabled", false);
  std::vector<CapturedLogRecord> records = DrainLibraryLog();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].level, kLogLevelError);
  EXPECT_EQ(records[0].text,
            "RegUtils::GetBOOL - Failed to open key Software\\Corvane\\Meridel\\Kestrel "
            "with error 6");

  ScopedLibraryLogThreshold tracing(7);
  RegUtils::GetBOOL(HKEY_LOCAL_MACHINE, kKestrelKeyPath, L"IsDisabled", false);
  records = DrainLibraryLog();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].level, kLogLevelVerbose);
  EXPECT_EQ(records[0].text,
            "RegUtils::GetBOOL - key Software\\Corvane\\Meridel\\Kestrel not exists");

  // The other readers never log, and a missing value under an existing key is silent.
  value_.SetString(L"present");
  RegUtils::GetBOOL(HKEY_CURRENT_USER, kKestrelKeyPath, L"NoSuchValue", false);
  for (HKEY root : {HKEY_LOCAL_MACHINE, kInvalidRoot}) {
    RegUtils::GetDWORD(root, kKestrelKeyPath, kValueName, 0);
    RegUtils::GetString(root, kKestrelKeyPath, kValueName, L"", true);
  }
  EXPECT_TRUE(DrainLibraryLog().empty());
}

}  // namespace
}  // namespace kestrel_test
