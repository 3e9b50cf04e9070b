// The few operating-system services the log core needs besides its base layer: the
// thread's last-error code, the UTC clock, and whether the standard error stream leads
// anywhere. Implemented next to the base layer for each platform.
#pragma once

#include <cstdint>

struct LogSystemTime {
  int year;
  int month;
  int day;
  int hour;
  int minute;
  int second;
  int milliseconds;
};

std::uint32_t LogPlatform_GetLastError();
void LogPlatform_SetLastError(std::uint32_t code);
// The current UTC date and time.
void LogPlatform_GetSystemTime(LogSystemTime* time);
// The date and time of a count of 100-nanosecond ticks since 1 January 1601 UTC (the
// Windows file-time scale).
void LogPlatform_TimeFromFileTime(std::uint64_t ticks, LogSystemTime* time);
// True when the runtime's standard error stream exists and is connected to something
// the process can write to (a console, a pipe or a file).
bool LogPlatform_StandardErrorExists();
