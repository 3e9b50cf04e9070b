// A fake DirectShow system device enumerator (ICreateDevEnum, IEnumMoniker, IMoniker,
// IPropertyBag) for the faults that the real one cannot be made to show: a class
// enumerator or a Next call that fails, a moniker whose property bag does not open, a
// property that cannot be read or is not text. Every object counts its references (see
// fake_com.h), so a test can check that the enumeration released all it took.
//
// The moniker is minimal: it answers BindToStorage and nothing else; every other
// IMoniker method returns E_NOTIMPL from one shared base.
#pragma once

#include <windows.h>
#include <dshow.h>

#include <memory>
#include <string>
#include <vector>

#include "support/fake_com.h"

namespace kestrel_test {

// How one property of a fake device answers IPropertyBag::Read.
enum class FakeBagValue {
  String,     // VT_BSTR with the text
  ReadFails,  // Read returns E_FAIL (a property the device lacks)
  Interface,  // S_OK with VT_UNKNOWN holding a counted object: not text, and must be freed
};

enum class FakeBind {
  Ok,
  Fails,             // BindToStorage returns E_FAIL and no bag
  FailsWithBag,      // E_FAIL, yet a bag is handed out (which the caller must release)
};

struct FakeVideoDeviceSpec {
  std::wstring friendlyName = L"Fake Cam";
  FakeBagValue nameValue = FakeBagValue::String;
  std::wstring devicePath = L"\\\\?\\fake#cam";
  FakeBagValue pathValue = FakeBagValue::String;
  FakeBind bind = FakeBind::Ok;
};

class FakeVideoDevice;
class FakeMonikerEnum;

class FakeSystemDeviceEnum : public FakeComObject<ICreateDevEnum> {
 public:
  explicit FakeSystemDeviceEnum(std::vector<FakeVideoDeviceSpec> devices);
  ~FakeSystemDeviceEnum() override;

  // Faults of the enumerator and its class enumerator.
  HRESULT classEnumResult = S_OK;      // CreateClassEnumerator (S_FALSE: empty category)
  bool classEnumHandedOutAnyway = false;  // a class enumerator comes with a result other than S_OK
  int nextFailsAt = -1;                // Next for this position returns E_FAIL ...
  bool nextFailureHandsOut = false;    // ... with the moniker handed out all the same

  // What the last CreateClassEnumerator asked for.
  CLSID requestedCategory = GUID_NULL;
  DWORD requestedFlags = 0xFFFFFFFF;
  int nextCalls = 0;

  // True when every object of this graph has had all its references released.
  bool AllReleased() const;
  // References still held, object by object, for a failure message.
  std::string Outstanding() const;

  HRESULT STDMETHODCALLTYPE CreateClassEnumerator(REFCLSID category, IEnumMoniker** monikers,
                                                  DWORD flags) override;

 private:
  friend class FakeMonikerEnum;
  std::vector<std::unique_ptr<FakeVideoDevice>> devices_;
  std::unique_ptr<FakeMonikerEnum> monikers_;
};

// n complete devices named "Fake Cam <i>" with paths "fake-path-<i>".
std::vector<FakeVideoDeviceSpec> MakeFakeVideoDevices(int count);

}  // namespace kestrel_test
