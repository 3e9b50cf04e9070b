// A fake dsound.dll for the DirectSound enumerator, injected through DSoundLib's
// module-loader seam: it really loads a small, otherwise unused system module in its
// place (and the enumerator really frees it), so the module's lifetime stays observable,
// but resolves the two exports to fakes whose devices, descriptions and faults the test
// chooses. This header does not
// include dsound.h; the fake property object is DirectSound's IKsPropertySet.
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
  std::wstring description = L"Fake DirectSound Mic";
  std::optional<std::wstring> interfaceText;  // nullopt: a null Interface pointer
  std::wstring module = L"fake.vxd";
  DWORD waveDeviceId = 0;
  ULONG reportedLength = 0;     // length the first Get reports; 0: the real need
  bool reportsNoLength = false; // the first Get reports a length of 0
  bool describeFails = false;   // the second Get fails
  bool nullDescription = false; // the second Get succeeds with a null Description
  bool throwOnDescribe = false; // the property object throws (a misbehaving driver)
};

enum class FakeDsoundFault {
  None,
  LoadLibraryFails,        // loading dsound.dll fails (ERROR_MOD_NOT_FOUND)
  NoCaptureEnumerate,      // DirectSoundCaptureEnumerateW missing
  NoGetClassObject,        // DllGetClassObject missing
  ClassObjectRefused,      // DllGetClassObject returns CLASS_E_CLASSNOTAVAILABLE
  ClassObjectNotOk,        // DllGetClassObject returns S_FALSE with a factory
  ClassObjectOkNoFactory,  // DllGetClassObject returns S_OK but no factory
  PropertyObjectRefused,   // the factory's CreateInstance fails
  PropertyObjectRefusedWithObject,  // CreateInstance fails, yet hands out the object
};

// Installs itself as DSoundLib's loader for its lifetime (one at a time) and puts the
// system loader back on destruction.
class FakeDirectSound {
 public:
  explicit FakeDirectSound(std::vector<FakeDsoundDevice> devices = {},
                           FakeDsoundFault fault = FakeDsoundFault::None);
  ~FakeDirectSound();
  FakeDirectSound(const FakeDirectSound&) = delete;
  FakeDirectSound& operator=(const FakeDirectSound&) = delete;

  HRESULT enumerateResult = 0;  // what the fake DirectSoundCaptureEnumerateW returns
  // Runs inside the fake DirectSoundCaptureEnumerateW, before the devices are reported.
  std::function<void()> duringEnumeration;

  // Whether the stand-in module is loaded now.
  static bool StandInLoaded();

  int loads() const;            // module loads through the seam
  int enumerations() const;     // calls of the fake DirectSoundCaptureEnumerateW
  // True when the factory and the property object have had every reference released.
  bool AllReleased() const;

  struct State;

 private:
  std::unique_ptr<State> state_;
};

}  // namespace kestrel_test
