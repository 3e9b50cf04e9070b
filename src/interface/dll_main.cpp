// The library's load entry. Process-wide state (the log state and ring, the COM guard's
// count, the DirectSound instance, the log cleaner) is built by the runtime's static
// initialisation before this runs and torn down after it, so DllMain itself does no work.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE /*instance*/, DWORD /*reason*/, LPVOID /*reserved*/) {
  return TRUE;
}
