// The exported interface as a caller reaches it: kestrelCliLib.dll loaded from the test
// program's directory, its ten functions looked up by name.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "kestrelCliLib.h"

namespace kestrel_test {

struct MmdrLibrary {
  decltype(&Mmdr_Init) Init = nullptr;
  decltype(&Mmdr_Uninit) Uninit = nullptr;
  decltype(&Mmdr_IsValid) IsValid = nullptr;
  decltype(&Mmdr_GetLibVersion) GetLibVersion = nullptr;
  decltype(&Mmdr_IsEnabled) IsEnabled = nullptr;
  decltype(&Mmdr_EnumDevices) EnumDevices = nullptr;
  decltype(&Mmdr_GetPrefDev) GetPrefDev = nullptr;
  decltype(&Mmdr_SetPrefDev) SetPrefDev = nullptr;
  decltype(&Mmdr_GetAudioInSelectOption) GetAudioInSelectOption = nullptr;
  decltype(&Mmdr_SetAudioInSelectOption) SetAudioInSelectOption = nullptr;
};

// Loads the DLL once per process; a missing DLL or export fails the calling test.
const MmdrLibrary& Mmdr();

// A handle from Mmdr_Init(mode 1), closed at the end of the scope.
class ScopedMmdrHandle {
 public:
  ScopedMmdrHandle();
  ~ScopedMmdrHandle();
  ScopedMmdrHandle(const ScopedMmdrHandle&) = delete;
  ScopedMmdrHandle& operator=(const ScopedMmdrHandle&) = delete;
  MmdrHandle* get() const { return handle_; }

 private:
  MmdrHandle* handle_ = nullptr;
};

struct EnumeratedDevice {
  std::string id;
  std::string name;
};

// The two-call pattern: the devices of a kind, as the fields hold them (up to the first
// zero byte). Fails the calling test when a call does not return what it should.
std::vector<EnumeratedDevice> EnumerateThroughDll(MmdrHandle* handle, MmdrDeviceKind kind);

// Narrow UTF-8 text of a wide test string (device names and paths given as UTF-16).
std::string Utf8(const std::wstring& text);

}  // namespace kestrel_test
