// Windows implementation of the log core's platform services.
#include "log/log_platform.h"

#include <windows.h>

#include <cstdio>
#include <io.h>

std::uint32_t LogPlatform_GetLastError() { return GetLastError(); }

void LogPlatform_SetLastError(std::uint32_t code) { SetLastError(code); }

void LogPlatform_GetSystemTime(LogSystemTime* time) {
  SYSTEMTIME now;
  GetSystemTime(&now);
  time->year = now.wYear;
  time->month = now.wMonth;
  time->day = now.wDay;
  time->hour = now.wHour;
  time->minute = now.wMinute;
  time->second = now.wSecond;
  time->milliseconds = now.wMilliseconds;
}

bool LogPlatform_StandardErrorExists() {
  // In a GUI host without a console the runtime's stderr has no descriptor (negative)
  // or one that maps to no system handle; writing there would go nowhere at best.
  if (stderr == nullptr) return false;
  const int descriptor = _fileno(stderr);
  if (descriptor < 0) return false;
  const intptr_t handle = _get_osfhandle(descriptor);
  return handle != reinterpret_cast<intptr_t>(INVALID_HANDLE_VALUE) && handle != -2 && handle != 0;
}
