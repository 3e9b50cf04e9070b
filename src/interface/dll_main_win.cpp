// The library's load entry. Process-wide state (the log state and ring, the open handles,
// the DirectSound instance, the log cleaner) is built by the runtime's static
// initialisation before this runs and torn down after it, so DllMain itself does no work.
// (The COM guard's count is per thread and needs nothing at load.)
#include <windows.h>

#include "log/log_cleaner.h"

namespace {
// Destroyed at unload, which runs LogCleaner::Stop. The log state it logs to is
// constant-initialised, so it is still intact then.
LogCleaner g_logCleaner;
}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE /*instance*/, DWORD /*reason*/, LPVOID /*reserved*/) {
  return TRUE;
}
