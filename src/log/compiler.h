// Compiler portability macros shared by the library's sources.
#pragma once

// Marks a printf-style entry point so that the compiler checks its callers' formats.
// Under MinGW the attribute names the formatter that the printf family really uses
// there (MinGW's own C99 one unless the ANSI-stdio switch is off).
#if defined(__MINGW32__)
#include <stdio.h>  // defines __MINGW_PRINTF_FORMAT
#define KESTREL_PRINTF_FORMAT(formatIndex, firstArg) \
  __attribute__((format(__MINGW_PRINTF_FORMAT, formatIndex, firstArg)))
#elif defined(__GNUC__)
#define KESTREL_PRINTF_FORMAT(formatIndex, firstArg) \
  __attribute__((format(printf, formatIndex, firstArg)))
#else
#define KESTREL_PRINTF_FORMAT(formatIndex, firstArg)
#endif
