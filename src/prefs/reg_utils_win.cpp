#include "prefs/reg_utils.h"

#include <atomic>
#include <cwchar>
#include <utility>

#include "core/scoped_handle_win.h"
#include "core/text_utils.h"
#include "log/log.h"

namespace {

// Every open names the 64-bit view, so 32-bit and 64-bit callers share the values.
constexpr REGSAM kReadAccess = KEY_QUERY_VALUE | KEY_WOW64_64KEY;
constexpr REGSAM kWriteAccess = KEY_SET_VALUE | KEY_WOW64_64KEY;
constexpr char kGetBoolName[] = "RegUtils::GetBOOL";
// Texts are read through a fixed buffer of this many code units (520 bytes).
constexpr DWORD kTextCapacity = 260;

std::atomic<RegUtils::SetValueFn> g_setValue{&RegSetValueExW};

// Queries the value as a 4-byte number. The result is the query's status; number is
// set only for a REG_DWORD (a shorter one leaves the upper bytes zero).
LONG QueryDwordValue(HKEY key, const std::wstring& valueName, bool* isDword, DWORD* number) {
  DWORD type = REG_NONE;
  DWORD data = 0;
  DWORD size = sizeof data;
  const LONG status = RegQueryValueExW(key, valueName.c_str(), nullptr, &type,
                                       reinterpret_cast<BYTE*>(&data), &size);
  *isDword = status == ERROR_SUCCESS && type == REG_DWORD;
  if (*isDword) *number = data;
  return status;
}

}  // namespace

namespace RegUtils {

bool GetBOOL(HKEY root, const std::wstring& subKey, const std::wstring& valueName,
             bool defaultValue) {
  ScopedRegKey key;
  const LONG openStatus = RegOpenKeyExW(root, subKey.c_str(), 0, kReadAccess, key.Receive());
  if (openStatus != ERROR_SUCCESS) {
    if (openStatus == ERROR_FILE_NOT_FOUND) {
      LogWide(kLogLevelVerbose, L"%S - key %s not exists", kGetBoolName, subKey.c_str());
    } else {
      LogWide(kLogLevelError, L"%S - Failed to open key %s with error %d", kGetBoolName,
              subKey.c_str(), static_cast<int>(openStatus));
    }
    return defaultValue;
  }

  DWORD number = 0;
  bool isDword = false;
  const LONG numberStatus = QueryDwordValue(key.get(), valueName, &isDword, &number);
  if (isDword) return number != 0;
  // A value missing for the number query is missing for the text query too; skipping
  // it saves a registry round trip on the common path of an absent switch.
  if (numberStatus == ERROR_FILE_NOT_FOUND) return defaultValue;

  std::wstring text;
  if (QueryString(key.get(), valueName, text, defaultValue ? L"true" : L"false") != ERROR_SUCCESS) {
    return defaultValue;
  }
  return ConvertStringToBool(text);
}

DWORD GetDWORD(HKEY root, const std::wstring& subKey, const std::wstring& valueName,
               DWORD defaultValue) {
  ScopedRegKey key;
  if (RegOpenKeyExW(root, subKey.c_str(), 0, kReadAccess, key.Receive()) != ERROR_SUCCESS) {
    return defaultValue;
  }

  DWORD number = 0;
  bool isDword = false;
  const LONG numberStatus = QueryDwordValue(key.get(), valueName, &isDword, &number);
  if (isDword) return number;
  if (numberStatus == ERROR_FILE_NOT_FOUND) return defaultValue;

  // "Default" (exactly so) marks a value that stands for the caller's default.
  static constexpr wchar_t kDefaultMarker[] = L"Default";
  std::wstring text;
  if (QueryString(key.get(), valueName, text, kDefaultMarker) != ERROR_SUCCESS ||
      text == kDefaultMarker) {
    return defaultValue;
  }
  return ConvertStringToDWORD(text);
}

std::wstring GetString(HKEY root, const std::wstring& subKey, const std::wstring& valueName,
                       std::wstring defaultValue, bool use64BitView) {
  const REGSAM access = use64BitView ? kReadAccess : KEY_QUERY_VALUE;
  ScopedRegKey key;
  if (RegOpenKeyExW(root, subKey.c_str(), 0, access, key.Receive()) != ERROR_SUCCESS) {
    return defaultValue;
  }
  std::wstring text;
  QueryString(key.get(), valueName, text, std::move(defaultValue));
  return text;
}

LONG QueryString(HKEY key, const std::wstring& valueName, std::wstring& out,
                 std::wstring defaultValue) {
  wchar_t buffer[kTextCapacity] = {};
  DWORD byteCount = sizeof buffer;
  // No type asked for: whatever the value's type, its bytes are taken as UTF-16 text.
  const LONG status = RegQueryValueExW(key, valueName.c_str(), nullptr, nullptr,
                                       reinterpret_cast<BYTE*>(buffer), &byteCount);
  std::wstring text;
  if (status == ERROR_SUCCESS) {
    // Only the code units the value really holds count; a stray odd byte is not a
    // code unit, and a text without its NUL ends where its data ends.
    const std::size_t unitCount = byteCount / sizeof(wchar_t);
    const std::size_t available = unitCount < kTextCapacity ? unitCount : kTextCapacity;
    text.assign(buffer, wcsnlen(buffer, available));
  }
  out = text.empty() ? std::move(defaultValue) : std::move(text);
  return status;
}

bool SetDWORD(HKEY root, const std::wstring& subKey, const std::wstring& valueName, DWORD value) {
  ScopedRegKey key;
  if (RegCreateKeyExW(root, subKey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, kWriteAccess,
                      nullptr, key.Receive(), nullptr) != ERROR_SUCCESS) {
    return false;
  }
  return g_setValue.load()(key.get(), valueName.c_str(), 0, REG_DWORD,
                           reinterpret_cast<const BYTE*>(&value), sizeof value) == ERROR_SUCCESS;
}

bool SetString(HKEY root, const std::wstring& subKey, const std::wstring& valueName,
               const std::wstring& value) {
  // The byte count is a DWORD: a text too long for it is refused, not cut.
  if (value.size() >= (MAXDWORD / sizeof(wchar_t)) - 1) return false;
  ScopedRegKey key;
  if (RegCreateKeyExW(root, subKey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, kWriteAccess,
                      nullptr, key.Receive(), nullptr) != ERROR_SUCCESS) {
    return false;
  }
  // Fits: the size was checked above.
  const DWORD byteCount =
      static_cast<DWORD>(value.size() + 1) * static_cast<DWORD>(sizeof(wchar_t));
  return g_setValue.load()(key.get(), valueName.c_str(), 0, REG_SZ,
                           reinterpret_cast<const BYTE*>(value.c_str()),
                           byteCount) == ERROR_SUCCESS;
}

void SetValueWriterForTesting(SetValueFn writer) {
  g_setValue.store(writer != nullptr ? writer : &RegSetValueExW);
}

}  // namespace RegUtils
