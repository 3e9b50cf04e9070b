// The portable part of the log facility's base layer: the bounded formatter.
#include "log/log_base.h"

#include <cstdio>

int Base_Vsnprintf(char* buffer, std::size_t size, const char* format, va_list args) {
  if (size == 0) return -1;
    // MinGW's own C99 formatter on purpose: it agrees with the format checking that the
    // compiler applies to our entry points (%zu, %lld) and always terminates; msvcrt's
    // legacy one does neither. The UCRT's vsnprintf is C99 as well.
#if defined(__MINGW32__)
  const int needed = __mingw_vsnprintf(buffer, size, format, args);
#else
  const int needed = std::vsnprintf(buffer, size, format, args);
#endif
  if (needed < 0) {
    buffer[0] = '\0';
    return 0;
  }
  if (static_cast<std::size_t>(needed) >= size) {
    buffer[size - 1] = '\0';
    return -1;
  }
  return needed;
}

int Base_Sprintf(char* buffer, std::size_t size, const char* format, ...) {
  va_list args;  // NOLINT(cppcoreguidelines-init-variables): va_start fills it
  va_start(args, format);
  const int result = Base_Vsnprintf(buffer, size, format, args);
  va_end(args);
  return result;
}
