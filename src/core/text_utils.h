// Small text/number conversions and the wide-text log entries (and, through
// core/utf8.h, the conversion between the interface's UTF-8 and the system's UTF-16).
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "core/utf8.h"
#include "log/compiler.h"

// towlower of every code unit, one by one.
std::wstring ConvertToLower(std::wstring text);
// Decimal text of value taken as a signed 32-bit number; false leaves out unchanged.
bool ConvertDWORDToString(DWORD value, std::wstring& out);

// Formats a wide message by the C99 rules ("%ls" is a wide string, "%s" a narrow one) with
// the same formatter on every Windows target and runtime, cuts it at 4095 code units, and
// logs its UTF-8 form verbatim. Never throws and leaves the last-error code as it was.
// Call it through LOG_WIDE, which has the compiler check the format.
void LogWide(std::uint32_t levelWord, const wchar_t* format, ...);
// No compiler checks a wide format, so LOG_WIDE takes the format as a narrow literal, has
// it checked against the arguments as this never-called declaration's (the same C99
// rules), and hands LogWide its wide form.
int CheckLogWideFormat(const char* format, ...) KESTREL_PRINTF_FORMAT(1, 2);
#define LOG_WIDE(levelWord, format, ...)                               \
  (static_cast<void>(sizeof(CheckLogWideFormat(format, __VA_ARGS__))), \
   LogWide(levelWord, L"" format, __VA_ARGS__))
// Logs at level 2 "<function> - <description>: <system text> (0x<code>)" for the
// calling thread's last Win32 error. Never throws.
void LogLastError(const char* functionName, const wchar_t* description);
