#include "prefs/reg_utils.h"

#include <algorithm>
#include <atomic>
#include <cwchar>
#include <utility>

#include "core/scoped_handle_win.h"
#include "core/text_utils.h"
#include "log/log.h"
#include "prefs/settings_text.h"

namespace {

// Every open names the 64-bit view, so 32-bit and 64-bit callers share the values.
constexpr REGSAM kReadAccess = KEY_QUERY_VALUE | KEY_WOW64_64KEY;
constexpr REGSAM kWriteAccess = KEY_SET_VALUE | KEY_WOW64_64KEY;
constexpr char kGetBoolName[] = "RegUtils::GetBOOL";
// Texts are read through a fixed buffer of this many code units (520 bytes).
constexpr DWORD kTextCapacity = 260;

constexpr char kSetDwordName[] = "RegUtils::SetDWORD";
constexpr char kSetStringName[] = "RegUtils::SetString";

std::atomic<RegUtils::SetValueFn> g_setValue{&RegSetValueExW};

const char* RootName(HKEY root) {
  return root == HKEY_CURRENT_USER    ? "HKEY_CURRENT_USER"
         : root == HKEY_LOCAL_MACHINE ? "HKEY_LOCAL_MACHINE"
                                      : "another root";
}

// Opens subKey for a reader; the status. A missing key is an unset value; any other
// failure is logged, since the reader's caller sees only the default.
LONG OpenForReading(const char* function, HKEY root, const std::wstring& subKey, REGSAM access,
                    ScopedRegKey& key) {
  const LONG status = RegOpenKeyExW(root, subKey.c_str(), 0, access, key.Receive());
  if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) {
    LOG_WIDE(kLogLevelError, "%s - Failed to open key %s\\%ls with error %d", function,
             RootName(root), subKey.c_str(), static_cast<int>(status));
  }
  return status;
}

// Creates or opens the key for writing and stores one value; a failure is logged with
// its Win32 code.
bool StoreValue(const char* function, HKEY root, const std::wstring& subKey,
                const std::wstring& valueName, DWORD type, const void* data, DWORD size) {
  ScopedRegKey key;
  LONG status = RegCreateKeyExW(root, subKey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                kWriteAccess, nullptr, key.Receive(), nullptr);
  if (status != ERROR_SUCCESS) {
    LOG_WIDE(kLogLevelError, "%s - Failed to create key %s\\%ls with error %d", function,
             RootName(root), subKey.c_str(), static_cast<int>(status));
    return false;
  }
  status = g_setValue.load()(key.get(), valueName.c_str(), 0, type, static_cast<const BYTE*>(data),
                             size);
  if (status != ERROR_SUCCESS) {
    LOG_WIDE(kLogLevelError, "%s - Failed to store %s\\%ls: %ls with error %d", function,
             RootName(root), subKey.c_str(), valueName.c_str(), static_cast<int>(status));
    return false;
  }
  return true;
}

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
             bool defaultValue, bool* stored) {
  if (stored != nullptr) *stored = false;
  ScopedRegKey key;
  const LONG openStatus = OpenForReading(kGetBoolName, root, subKey, kReadAccess, key);
  if (openStatus != ERROR_SUCCESS) {
    if (openStatus == ERROR_FILE_NOT_FOUND) {
      LOG_WIDE(kLogLevelVerbose, "%s - key %ls not exists", kGetBoolName, subKey.c_str());
    }
    return defaultValue;
  }

  DWORD number = 0;
  bool isDword = false;
  const LONG numberStatus = QueryDwordValue(key.get(), valueName, &isDword, &number);
  if (isDword && stored != nullptr) *stored = true;
  if (isDword) return number != 0;
  // A value missing for the number query is missing for the text query too; skipping
  // it saves a registry round trip on the common path of an absent switch.
  if (numberStatus == ERROR_FILE_NOT_FOUND) return defaultValue;

  std::wstring text;
  if (QueryString(key.get(), valueName, text, defaultValue ? L"true" : L"false") != ERROR_SUCCESS) {
    return defaultValue;
  }
  if (stored != nullptr) *stored = true;
  return SettingsText::ParseSwitch(ConvertWideToUtf8(text.c_str()));
}

DWORD GetDWORD(HKEY root, const std::wstring& subKey, const std::wstring& valueName,
               DWORD defaultValue) {
  ScopedRegKey key;
  if (OpenForReading("RegUtils::GetDWORD", root, subKey, kReadAccess, key) != ERROR_SUCCESS) {
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
  return SettingsText::ParseNumber(ConvertWideToUtf8(text.c_str()));
}

std::wstring GetString(HKEY root, const std::wstring& subKey, const std::wstring& valueName,
                       std::wstring defaultValue, bool use64BitView) {
  const REGSAM access = use64BitView ? kReadAccess : KEY_QUERY_VALUE;
  ScopedRegKey key;
  if (OpenForReading("RegUtils::GetString", root, subKey, access, key) != ERROR_SUCCESS) {
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
    // Only the code units the value really holds count.
    const std::u16string units =
        SettingsText::RegistryValueText(reinterpret_cast<const unsigned char*>(buffer),
                                        std::min<std::size_t>(byteCount, sizeof buffer));
    text.assign(units.begin(), units.end());
  } else if (status != ERROR_FILE_NOT_FOUND) {
    // ERROR_MORE_DATA: a text longer than the buffer, which no caller could use whole.
    LOG_WIDE(kLogLevelError, "%s - Failed to read value %ls with error %d: the default applies",
             "RegUtils::QueryString", valueName.c_str(), static_cast<int>(status));
  }
  out = text.empty() ? std::move(defaultValue) : std::move(text);
  return status;
}

bool SetDWORD(HKEY root, const std::wstring& subKey, const std::wstring& valueName, DWORD value) {
  if (!StoreValue(kSetDwordName, root, subKey, valueName, REG_DWORD, &value, sizeof value)) {
    return false;
  }
  LOG_WIDE(kLogLevelTrivia, "%s - %s\\%ls: %ls = %u stored", kSetDwordName, RootName(root),
           subKey.c_str(), valueName.c_str(), static_cast<unsigned>(value));
  return true;
}

bool SetString(HKEY root, const std::wstring& subKey, const std::wstring& valueName,
               const std::wstring& value) {
  // The byte count is a DWORD: a text too long for it is refused, not cut.
  if (value.size() >= (MAXDWORD / sizeof(wchar_t)) - 1) {
    LOG_WIDE(kLogLevelError, "%s - the text of %ls is too long to store", kSetStringName,
             valueName.c_str());
    return false;
  }
  // Fits: the size was checked above.
  const DWORD byteCount =
      static_cast<DWORD>(value.size() + 1) * static_cast<DWORD>(sizeof(wchar_t));
  if (!StoreValue(kSetStringName, root, subKey, valueName, REG_SZ, value.c_str(), byteCount)) {
    return false;
  }
  LOG_WIDE(kLogLevelTrivia, "%s - %s\\%ls: %ls = '%ls' stored", kSetStringName, RootName(root),
           subKey.c_str(), valueName.c_str(), value.c_str());
  return true;
}

void SetValueWriterForTesting(SetValueFn writer) {
  g_setValue.store(writer != nullptr ? writer : &RegSetValueExW);
}

}  // namespace RegUtils
