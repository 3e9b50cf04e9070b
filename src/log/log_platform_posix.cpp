// POSIX implementation of the log core's platform services; errno stands in for the
// thread's last-error code.
#include "log/log_platform.h"

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <fcntl.h>

std::uint32_t LogPlatform_GetLastError() { return static_cast<std::uint32_t>(errno); }

void LogPlatform_SetLastError(std::uint32_t code) { errno = static_cast<int>(code); }

void LogPlatform_GetSystemTime(LogSystemTime* time) {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  tm fields{};
  gmtime_r(&now.tv_sec, &fields);
  time->year = fields.tm_year + 1900;
  time->month = fields.tm_mon + 1;
  time->day = fields.tm_mday;
  time->hour = fields.tm_hour;
  time->minute = fields.tm_min;
  time->second = fields.tm_sec;
  time->milliseconds = static_cast<int>(now.tv_nsec / 1000000);
}

bool LogPlatform_StandardErrorExists() {
  if (stderr == nullptr) return false;
  const int descriptor = fileno(stderr);
  return descriptor >= 0 && fcntl(descriptor, F_GETFD) != -1;
}
