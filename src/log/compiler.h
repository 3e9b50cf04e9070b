// Compiler portability macros shared by the library's sources.
#pragma once

// Marks a printf-style entry point so that the compiler checks its callers' formats by the
// C99 rules that the library's formatters follow on every platform (under MinGW its own
// C99 formatter, called by name). GCC for MinGW reads "printf" as msvcrt's legacy rules,
// so it is told "gnu_printf"; Clang has the one "printf".
#if defined(__MINGW32__) && !defined(__clang__)
#define KESTREL_PRINTF_FORMAT(formatIndex, firstArg) \
  __attribute__((format(gnu_printf, formatIndex, firstArg)))
#elif defined(__GNUC__)
#define KESTREL_PRINTF_FORMAT(formatIndex, firstArg) \
  __attribute__((format(printf, formatIndex, firstArg)))
#else
#define KESTREL_PRINTF_FORMAT(formatIndex, firstArg)
#endif
