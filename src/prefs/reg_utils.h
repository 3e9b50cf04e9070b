// The library's only door to the registry. Reads never fail (they return the given
// default); writes report success. Nothing is cached: each call opens the key, does
// its one job and closes it again. Failures other than a missing key or value are
// logged at error level, every value stored at debug level.
#pragma once

#include <windows.h>

#include <string>

// Every value of the library lives under this path, below HKEY_CURRENT_USER (the
// user's preferences and option) or HKEY_LOCAL_MACHINE (switches, machine-wide
// fall-back preferences; only read).
inline constexpr wchar_t kKestrelKeyPath[] = L"Software\\Corvane\\Meridel\\Kestrel";

namespace RegUtils {

// stored, when given, says whether the value was there (it was read, not defaulted).
bool GetBOOL(HKEY root, const std::wstring& subKey, const std::wstring& valueName,
             bool defaultValue, bool* stored = nullptr);
DWORD GetDWORD(HKEY root, const std::wstring& subKey, const std::wstring& valueName,
               DWORD defaultValue);
std::wstring GetString(HKEY root, const std::wstring& subKey, const std::wstring& valueName,
                       std::wstring defaultValue, bool use64BitView);
// Reads valueName of an open key as text (at most 260 code units); out is always set,
// to defaultValue when the value is missing, too large or empty. Returns the query's
// Win32 error code.
LONG QueryString(HKEY key, const std::wstring& valueName, std::wstring& out,
                 std::wstring defaultValue);
bool SetDWORD(HKEY root, const std::wstring& subKey, const std::wstring& valueName, DWORD value);
bool SetString(HKEY root, const std::wstring& subKey, const std::wstring& valueName,
               const std::wstring& value);

// How SetDWORD and SetString store a value: RegSetValueExW, unless a test puts in a
// writer that fails on demand (null puts RegSetValueExW back). Only while no other
// thread writes.
using SetValueFn = LSTATUS(APIENTRY*)(HKEY key, const wchar_t* valueName, DWORD reserved,
                                      DWORD type, const BYTE* data, DWORD size);
void SetValueWriterForTesting(SetValueFn writer);

}  // namespace RegUtils
