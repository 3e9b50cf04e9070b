// mmdrctl's exit codes and its printing: results on standard output, complaints on
// standard error after "mmdrctl: ".
#pragma once

#include <string>

#include "kestrelCliLib.h"
#include "log/compiler.h"  // KESTREL_PRINTF_FORMAT

namespace mmdrctl {

constexpr int kExitOk = 0;
constexpr int kExitCallFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitNoLibrary = 3;

void Print(const std::string& text);
void PrintF(const char* format, ...) KESTREL_PRINTF_FORMAT(1, 2);
// One line on standard error, after "mmdrctl: ".
void Error(const char* format, ...) KESTREL_PRINTF_FORMAT(1, 2);
// Reports a failed library call; returns kExitCallFailed.
int CallFailed(const char* call, MmdrResult result);

// A text field as delivered: up to its first zero byte, never past its end.
std::string FieldText(const char* field);

}  // namespace mmdrctl
