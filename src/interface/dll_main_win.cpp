// The library's load entry. Process-wide state (the log state and ring, the open handles,
// the DirectSound instance, the KESTREL_LOG output) is built by the runtime's static
// initialisation before this runs and torn down after it, so DllMain itself does no work.
// (The COM guard's count is per thread and needs nothing at load.)
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE /*instance*/, DWORD /*reason*/, LPVOID /*reserved*/) {
  return TRUE;
}
