// A fake dsound.dll, put in through DSoundLib's module-loader seam. It really loads a
// small system module that nothing else in the test programs loads (and DSoundLib really
// frees it), so the module's lifetime stays observable, but resolves the two exports to
// fakes whose devices and faults the test chooses.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kestrel_test {

struct FakeDsoundDevice {
  std::optional<GUID> guid;  // nullopt: DirectSound's default-device entry (null GUID)
  std::wstring description = L"Fake DirectSound Mic";  // empty: a null pointer
  std::optional<std::wstring> interfaceText;           // nullopt: a null Interface pointer
  DWORD waveDeviceId = 0;
  ULONG reportedLength = 0;      // what the first Get reports; 0: the real need
  bool describeFails = false;    // the second Get fails
  bool nullDescription = false;  // the second Get succeeds with a null Description
  bool throwOnDescribe = false;  // the property object throws (a misbehaving driver)
};

enum class FakeDsoundFault {
  None,
  LoadFails,              // loading dsound.dll fails (ERROR_MOD_NOT_FOUND)
  NoCaptureEnumerate,     // DirectSoundCaptureEnumerateW missing
  NoGetClassObject,       // DllGetClassObject missing
  ClassObjectNotOk,       // DllGetClassObject returns S_FALSE, with a factory
  PropertyObjectRefused,  // the factory's CreateInstance fails
  ResolveThrows,          // looking up an export throws std::bad_alloc
};

// DSoundLib's loader for its lifetime (one at a time); the system loader comes back after.
class FakeDirectSound {
 public:
  explicit FakeDirectSound(std::vector<FakeDsoundDevice> devices = {},
                           FakeDsoundFault fault = FakeDsoundFault::None);
  ~FakeDirectSound();
  FakeDirectSound(const FakeDirectSound&) = delete;
  FakeDirectSound& operator=(const FakeDirectSound&) = delete;

  HRESULT enumerateResult = 0;              // what DirectSoundCaptureEnumerateW returns
  std::function<void()> duringEnumeration;  // runs inside it, before the devices

  static bool StandInLoaded();
  int loads() const;         // module loads through the seam
  bool AllReleased() const;  // the factory, and the property object before its module

  struct State;

 private:
  std::unique_ptr<State> state_;
};

}  // namespace kestrel_test
