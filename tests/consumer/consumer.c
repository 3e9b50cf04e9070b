/* A client of the installed package, built for Linux and MinGW-w64's ABI (C99, with its
 * runtime) and for Microsoft's (as Microsoft's compiler sees the header, with no C runtime:
 * the entry point is consumer_main). Each build compiles this file once as C (the program)
 * and once as C++ (CxxCalls). It opens a handle, lists the microphones with the two-call pattern,
 * reads a setting and closes the handle; the exit code has a bit set for each step that
 * answered wrongly. */
#include <kestrelCliLib.h>

#ifdef __cplusplus
extern "C" int CxxCalls(void) {
  return Mmdr_GetLibVersion() == MMDR_LIB_VERSION && Mmdr_IsValid(nullptr) == MMDR_INVALID_HANDLE;
}
#else
#ifdef _WIN32
__declspec(dllimport) void __stdcall ExitProcess(unsigned code);
__declspec(dllimport) void* __stdcall GetStdHandle(unsigned long which);
__declspec(dllimport) int __stdcall WriteFile(void* file, const void* data, unsigned long size,
                                              unsigned long* written, void* overlapped);
#else
#include <stdio.h>
#include <stdlib.h>
#define ExitProcess exit
#endif
int CxxCalls(void);

static MmdrDeviceEntry entries[16];
static unsigned failed;

static void Expect(int ok, unsigned step) { failed |= ok ? 0u : 1u << step; }

static void Say(const char* text) {
#ifdef _WIN32
  unsigned long size = 0, written = 0;
  while (text[size] != '\0') ++size;
  WriteFile(GetStdHandle((unsigned long)-11 /* standard output */), text, size, &written, 0);
#else
  fputs(text, stdout);
#endif
}

void consumer_main(void) {
  MmdrHandle* handle = 0;
  uint32_t count = 0, option = 9, i;
  uint8_t enabled = 9;
  Expect(CxxCalls(), 0);
  Expect(Mmdr_Init(MMDR_MODE_1, &handle) == MMDR_OK && Mmdr_IsValid(handle) == MMDR_OK, 1);
  Expect(Mmdr_IsEnabled(handle, &enabled) == MMDR_OK && enabled == 1, 2);
  Expect(Mmdr_EnumDevices(handle, MMDR_DEVICE_AUDIO, 0, 0, &count) == MMDR_BUFFER_TOO_SMALL &&
             count > 0 && count <= 16,
         3);
  if (!failed) {
    Expect(Mmdr_EnumDevices(handle, MMDR_DEVICE_AUDIO, count * MMDR_ENTRY_SIZE, entries, &count) ==
                   MMDR_OK &&
               entries[count - 1].name[0] != '\0',
           4);
  }
  Expect(Mmdr_GetAudioInSelectOption(handle, &option) == MMDR_OK && option <= 2, 5);
  Mmdr_Uninit(handle);
  Expect(Mmdr_IsValid(handle) == MMDR_INVALID_HANDLE, 6);
  Say(failed ? "consumer: failed" : "consumer: ok; microphones:");
  for (i = 0; !failed && i < count; ++i) Say(" "), Say(entries[i].name);
  Say("\n");
  ExitProcess(failed);
}

#ifndef _MSC_VER
int main(void) {
  consumer_main();
  return 1; /* not reached */
}
#endif
#endif
