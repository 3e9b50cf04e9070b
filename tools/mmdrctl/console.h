// mmdrctl's exit codes and its printing: results on standard output, complaints on
// standard error after "mmdrctl: ".
#pragma once

#include <string>

#include "kestrelCliLib.h"

// Lets the compiler check the formats of the printing helpers below.
#if defined(__MINGW32__)
#define KESTREL_MMDRCTL_PRINTF(formatIndex, firstArg) \
  __attribute__((format(__MINGW_PRINTF_FORMAT, formatIndex, firstArg)))
#elif defined(__GNUC__)
#define KESTREL_MMDRCTL_PRINTF(formatIndex, firstArg) \
  __attribute__((format(printf, formatIndex, firstArg)))
#else
#define KESTREL_MMDRCTL_PRINTF(formatIndex, firstArg)
#endif

namespace mmdrctl {

constexpr int kExitOk = 0;
constexpr int kExitCallFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitNoLibrary = 3;

void Print(const std::string& text);
void PrintF(const char* format, ...) KESTREL_MMDRCTL_PRINTF(1, 2);
// One line on standard error, after "mmdrctl: ".
void Error(const char* format, ...) KESTREL_MMDRCTL_PRINTF(1, 2);
// Reports a failed library call; returns kExitCallFailed.
int CallFailed(const char* call, MmdrResult result);

// A text field as delivered: up to its first zero byte, never past its end.
std::string FieldText(const char* field);

}  // namespace mmdrctl
