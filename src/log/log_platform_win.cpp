// Windows implementation of the log core's platform services.
#include "log/log_platform.h"

#include <windows.h>

#include <cstdio>
#include <io.h>

std::uint32_t LogPlatform_GetLastError() { return GetLastError(); }

void LogPlatform_SetLastError(std::uint32_t code) { SetLastError(code); }

void LogPlatform_TimeFromFileTime(std::uint64_t ticks, LogSystemTime* time) {
  const std::uint64_t totalMilliseconds = ticks / 10000;
  time->milliseconds = static_cast<int>(totalMilliseconds % 1000);
  const std::uint64_t totalSeconds = totalMilliseconds / 1000;
  const std::uint64_t secondOfDay = totalSeconds % 86400;
  time->hour = static_cast<int>(secondOfDay / 3600);
  time->minute = static_cast<int>(secondOfDay / 60 % 60);
  time->second = static_cast<int>(secondOfDay % 60);
  // Civil date from a day count, in 400-year eras that start on 1 March (the leap day
  // falls at the end of an era year), counted from 1 March 1600.
  constexpr std::int64_t kDaysFrom1600To1601 = 306;  // 1 March 1600 to 1 January 1601
  const std::int64_t days = static_cast<std::int64_t>(totalSeconds / 86400) + kDaysFrom1600To1601;
  const std::int64_t era = days / 146097;
  const std::int64_t dayOfEra = days - era * 146097;
  const std::int64_t yearOfEra =
      (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const std::int64_t monthFromMarch = (5 * dayOfYear + 2) / 153;
  time->day = static_cast<int>(dayOfYear - (153 * monthFromMarch + 2) / 5 + 1);
  time->month = static_cast<int>(monthFromMarch < 10 ? monthFromMarch + 3 : monthFromMarch - 9);
  time->year = static_cast<int>(1600 + yearOfEra + era * 400 + (time->month <= 2 ? 1 : 0));
}

void LogPlatform_GetSystemTime(LogSystemTime* time) {
  // The file-time clock with our own conversion costs a fraction of GetSystemTime under
  // Wine (where the conversion dominates) and no more on Windows.
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  LogPlatform_TimeFromFileTime(
      (static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime, time);
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
