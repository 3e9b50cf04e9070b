// mmdrctl's exit codes, its command line and its printing: results on standard output,
// complaints on standard error after "mmdrctl: ". The platform's side of the command line
// and of standard output is in console_win.cpp and console_posix.cpp.
#pragma once

#include <string>
#include <vector>

#include "kestrelCliLib.h"
#include "log/compiler.h"  // KESTREL_PRINTF_FORMAT

namespace mmdrctl {

constexpr int kExitOk = 0;
constexpr int kExitCallFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitNoLibrary = 3;
constexpr int kExitInterrupted = 130;  // as a shell reports a program ended by Ctrl-C

// Makes standard output write UTF-8 with "\n" line ends, whatever the platform's console.
void PrepareOutput();
// The words of the command line after the program's name, in UTF-8.
std::vector<std::string> CommandLineWords(int argc, char** argv);

void Print(const std::string& text);
void PrintF(const char* format, ...) KESTREL_PRINTF_FORMAT(1, 2);
// One line on standard error, after "mmdrctl: ".
void Error(const char* format, ...) KESTREL_PRINTF_FORMAT(1, 2);
// Reports a failed library call; returns kExitCallFailed.
int CallFailed(const char* call, MmdrResult result);

// From now on Ctrl-C (SIGINT, the console's Ctrl-C or Ctrl-Break) only sets a flag that
// Interrupted() reads.
void CatchInterrupt();
bool Interrupted();

// A text field as delivered: up to its first zero byte, never past its end.
std::string FieldText(const char* field);

}  // namespace mmdrctl
