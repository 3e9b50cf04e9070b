/* A stand-in dsound.dll, planted beside planted_load.exe: the library must never load it. */
#include <windows.h>

__declspec(dllexport) HRESULT WINAPI DirectSoundCaptureEnumerateW(void* callback, void* context) {
  (void)callback;
  (void)context;
  return E_FAIL;
}
