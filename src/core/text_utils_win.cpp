#include "core/text_utils.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <cwctype>
#include <string>

#include "core/scoped_handle_win.h"
#include "log/log.h"

namespace {

// Longest message LogWide keeps, plus its terminating NUL.
constexpr std::size_t kWideMessageCapacity = 4096;
constexpr std::size_t kNumberTextCapacity = 260;

}  // namespace

std::wstring ConvertToLower(std::wstring text) {
  for (wchar_t& unit : text) unit = static_cast<wchar_t>(towlower(unit));
  return text;
}

bool ConvertDWORDToString(DWORD value, std::wstring& out) {
  wchar_t digits[kNumberTextCapacity] = {};
  // Taken as signed on purpose: callers expect 4294967295 to read "-1".
  if (_itow_s(static_cast<int>(value), digits, kNumberTextCapacity, 10) != 0) return false;
  out = digits;
  return true;
}

void LogWide(std::uint32_t levelWord, const wchar_t* format, ...) {
  // A line the log does not want costs no buffer, format, conversion or allocation.
  if (!LogWants(levelWord)) return;
  const DWORD lastError = GetLastError();
  wchar_t message[kWideMessageCapacity] = {};
  if (format != nullptr) {
    va_list args;  // NOLINT(cppcoreguidelines-init-variables): va_start fills it
    va_start(args, format);
    // MinGW's own C99 formatter (and the UCRT's with the ISO wide conventions), never
    // msvcrt's legacy one: the formats mean the same on every target, and the arguments
    // never reach a runtime entry point that reads a va_list (Wine for ARM64 builds its
    // msvcrt as a Linux library, which reads one differently). A cut message keeps the
    // zero that ends it.
#if defined(__MINGW32__)
    __mingw_vsnwprintf(message, kWideMessageCapacity, format, args);
#else
    __stdio_common_vswprintf(_CRT_INTERNAL_PRINTF_STANDARD_SNPRINTF_BEHAVIOR, message,
                             kWideMessageCapacity, format, nullptr, args);
#endif
    va_end(args);
  }
  try {
    const std::string text = ConvertWideToUtf8(message);
    // The finished message travels as an argument, so a "%" from a device name is
    // never taken for a directive.
    Log(levelWord, "%s", text.c_str());
  } catch (...) {
    // Logging never fails its caller; without memory for the text the message is lost.
  }
  SetLastError(lastError);
}

void LogLastError(const char* functionName, const wchar_t* description) {
  const DWORD errorCode = GetLastError();
  ScopedLocalMem<wchar_t> systemText;
  // Inserts are left as they are: some system texts hold "%1" placeholders, and with
  // no arguments to fill them FormatMessageW would read arguments that do not exist.
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, errorCode, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
      reinterpret_cast<wchar_t*>(systemText.Receive()), 0, nullptr);
  const wchar_t* text = length != 0 && systemText.get() != nullptr ? systemText.get() : L"";
  LOG_WIDE(kLogLevelError, "%s - %ls: %ls (0x%lx)", functionName, description, text, errorCode);
  SetLastError(errorCode);
}
