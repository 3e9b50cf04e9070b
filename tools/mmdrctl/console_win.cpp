// The Windows side of mmdrctl's console: the wide command line and a UTF-8 console.
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <shellapi.h>

#include <cstdio>

#include "console.h"
#include "core/utf8.h"

namespace mmdrctl {

namespace {
volatile LONG g_interrupted = 0;
BOOL WINAPI OnConsoleControl(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
  InterlockedExchange(&g_interrupted, 1);
  return TRUE;
}
}  // namespace

void CatchInterrupt() { SetConsoleCtrlHandler(&OnConsoleControl, TRUE); }

bool Interrupted() { return InterlockedCompareExchange(&g_interrupted, 0, 0) != 0; }

void PrepareOutput() {
  // Binary mode: scripts on any system get "\n" line ends; the console shows UTF-8.
  _setmode(_fileno(stdout), _O_BINARY);
  SetConsoleOutputCP(CP_UTF8);
}

// From the wide command line: the narrow argv would lose characters outside the ANSI
// code page.
std::vector<std::string> CommandLineWords(int /*argc*/, char** /*argv*/) {
  std::vector<std::string> words;
  int count = 0;
  LPWSTR* arguments = CommandLineToArgvW(GetCommandLineW(), &count);
  if (arguments == nullptr) return words;
  for (int i = 1; i < count; ++i) words.push_back(ConvertWideToUtf8(arguments[i]));
  LocalFree(arguments);
  return words;
}

}  // namespace mmdrctl
