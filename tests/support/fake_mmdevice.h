// A fake Core Audio endpoint enumerator, registered in the test thread's apartment
// under CLSID_MMDeviceEnumerator, for faults that the real one cannot be made to show:
// a missing or non-string property, an id that cannot be read, failing calls.
#pragma once

#include <windows.h>
#include <mmdeviceapi.h>
#include <propsys.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "support/fake_com.h"

namespace kestrel_test {

// What one fake endpoint answers.
struct FakeEndpointSpec {
  // How one property answers GetValue.
  enum class Value {
    String,         // VT_LPWSTR with the text
    Missing,        // S_OK with VT_EMPTY, as a store answers for a property it lacks
    NotString,      // VT_UI4
    Interface,      // VT_UNKNOWN holding a counted object: not text, and must be freed
    GetValueFails,  // GetValue for this key fails
  };
  using Guid = Value;

  std::wstring friendlyName = L"Fake Mic";
  Value nameKind = Value::String;
  Guid guidKind = Guid::String;
  std::wstring guid = L"{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}";
  std::optional<std::wstring> endpointId = L"{0.0.1.00000000}.{fake}";  // nullopt: GetId fails
  bool openStoreFails = false;
  bool getValueFails = false;  // for every key
};

class FakeEndpoint;
class FakeEndpointCollection;

class FakeMMDeviceEnumerator : public FakeComObject<IMMDeviceEnumerator> {
 public:
  explicit FakeMMDeviceEnumerator(std::vector<FakeEndpointSpec> endpoints);
  ~FakeMMDeviceEnumerator() override;

  // Faults of the enumerator and its collection.
  HRESULT enumResult = S_OK;        // EnumAudioEndpoints
  HRESULT countResult = S_OK;       // GetCount
  int failingItem = -1;             // Item(failingItem) fails

  // What the last EnumAudioEndpoints asked for.
  EDataFlow requestedFlow = eAll;
  DWORD requestedStateMask = 0;

  // True when every fake object of this graph has had all its references released.
  bool AllReleased() const;
  // Every CoTaskMem text handed out so far (endpoint ids, string property values),
  // which the caller owns and must free.
  std::vector<void*> HandedOutTexts() const;

  HRESULT STDMETHODCALLTYPE EnumAudioEndpoints(EDataFlow flow, DWORD stateMask,
                                               IMMDeviceCollection** devices) override;
  HRESULT STDMETHODCALLTYPE GetDefaultAudioEndpoint(EDataFlow, ERole, IMMDevice**) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetDevice(LPCWSTR, IMMDevice**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE RegisterEndpointNotificationCallback(
      IMMNotificationClient*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE UnregisterEndpointNotificationCallback(
      IMMNotificationClient*) override {
    return E_NOTIMPL;
  }

 private:
  friend class FakeEndpointCollection;
  std::vector<std::unique_ptr<FakeEndpoint>> endpoints_;
  std::unique_ptr<FakeEndpointCollection> collection_;
};

// Registers a fake enumerator for CLSID_MMDeviceEnumerator in the calling thread's
// apartment for one scope. The thread must be in a single-threaded apartment already
// (the enumeration's own CoInitializeEx then finds it and gives S_FALSE).
class ScopedFakeMMDeviceEnumerator {
 public:
  explicit ScopedFakeMMDeviceEnumerator(std::vector<FakeEndpointSpec> endpoints);
  ~ScopedFakeMMDeviceEnumerator();

  FakeMMDeviceEnumerator& enumerator() { return enumerator_; }
  FakeClassFactory& factory() { return factory_; }
  HRESULT registration() const { return registration_->result(); }

 private:
  FakeMMDeviceEnumerator enumerator_;
  FakeClassFactory factory_;
  std::unique_ptr<ScopedClassRegistration> registration_;
};

// n endpoints named "Fake Mic <i>" with distinct GUIDs ("{...-00000000000<i>}" with
// upper-case letters) and ids "fake-endpoint-<i>".
std::vector<FakeEndpointSpec> MakeFakeEndpoints(int count);

}  // namespace kestrel_test
