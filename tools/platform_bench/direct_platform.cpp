#include "direct_platform.h"

#include "devices/platform_ids.h"

#include <dshow.h>
#include <mmdeviceapi.h>
#include <propidl.h>
#include <wrl/client.h>

#include <algorithm>
#include <cstring>
#include <utility>

using Microsoft::WRL::ComPtr;

namespace kestrel_direct {

// DirectSound's property set interface, in the method order dsound.dll implements
// (DirectShow's header of the same name lists Set before Get). It has external linkage:
// dsound.dll implements it, so the compiler must not treat the set of its
// implementations as closed.
// NOLINTNEXTLINE(cppcoreguidelines-virtual-class-destructor): a COM interface, never deleted
struct DirectSoundPropertySet : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Get(REFGUID set, ULONG id, void* instance, ULONG instanceLength,
                                        void* data, ULONG dataLength, ULONG* returned) = 0;
  virtual HRESULT STDMETHODCALLTYPE Set(REFGUID set, ULONG id, void* instance, ULONG instanceLength,
                                        void* data, ULONG dataLength) = 0;
  virtual HRESULT STDMETHODCALLTYPE QuerySupport(REFGUID set, ULONG id, ULONG* support) = 0;
};

namespace {

// The description block of DirectSound's private device property.
struct DescriptionData {
  ULONG type;
  ULONG dataFlow;
  GUID deviceId;
  LPWSTR description;
  LPWSTR module;
  LPWSTR interfaceText;
  ULONG waveDeviceId;
};
static_assert(sizeof(DescriptionData) == (sizeof(void*) == 8 ? 56 : 40),
              "the description block is 56 bytes (40 on 32-bit Windows)");

}  // namespace

void DirectVideoEnum(DirectList& out) {
  out.clear();
  const HRESULT apartment = CoInitialize(nullptr);
  {
    ComPtr<ICreateDevEnum> devices;
    if (SUCCEEDED(CoCreateInstance(kSystemDeviceEnumClsid, nullptr, CLSCTX_INPROC_SERVER,
                                   kCreateDevEnumIid,
                                   reinterpret_cast<void**>(devices.GetAddressOf())))) {
      ComPtr<IEnumMoniker> monikers;
      if (devices->CreateClassEnumerator(kVideoInputCategoryClsid, monikers.GetAddressOf(), 0) ==
          S_OK) {
        ComPtr<IMoniker> moniker;
        while (monikers->Next(1, moniker.ReleaseAndGetAddressOf(), nullptr) == S_OK) {
          ComPtr<IPropertyBag> bag;
          if (FAILED(moniker->BindToStorage(nullptr, nullptr, kPropertyBagIid,
                                            reinterpret_cast<void**>(bag.GetAddressOf())))) {
            continue;
          }
          VARIANT value;
          VariantInit(&value);
          if (FAILED(bag->Read(L"FriendlyName", &value, nullptr))) {
            continue;
          }
          DirectDevice device;
          if (value.vt == VT_BSTR && value.bstrVal != nullptr) device.name = value.bstrVal;
          VariantClear(&value);
          if (SUCCEEDED(bag->Read(L"DevicePath", &value, nullptr))) {
            if (value.vt == VT_BSTR && value.bstrVal != nullptr) device.id = value.bstrVal;
            VariantClear(&value);
          }
          out.push_back(std::move(device));
        }
      }
    }
  }
  if (SUCCEEDED(apartment)) CoUninitialize();
}

namespace {

// One string property of an endpoint; the store is opened per property, as the
// library does.
bool ReadEndpointString(IMMDevice* device, const PROPERTYKEY& key, std::wstring& out) {
  ComPtr<IPropertyStore> store;
  if (FAILED(device->OpenPropertyStore(STGM_READ, store.GetAddressOf()))) return false;
  PROPVARIANT value;
  PropVariantInit(&value);
  const bool ok = SUCCEEDED(store->GetValue(key, &value)) && value.vt == VT_LPWSTR;
  if (ok) out = value.pwszVal;
  PropVariantClear(&value);
  return ok;
}

}  // namespace

void DirectEndpointEnum(DirectList& out) {
  out.clear();
  const HRESULT apartment = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  if (FAILED(apartment)) return;
  {
    ComPtr<IMMDeviceEnumerator> enumerator;
    ComPtr<IMMDeviceCollection> collection;
    UINT count = 0;
    if (SUCCEEDED(CoCreateInstance(kMMDeviceEnumeratorClsid, nullptr, CLSCTX_ALL,
                                   kMMDeviceEnumeratorIid,
                                   reinterpret_cast<void**>(enumerator.GetAddressOf()))) &&
        SUCCEEDED(enumerator->EnumAudioEndpoints(eCapture, DEVICE_STATE_ACTIVE,
                                                 collection.GetAddressOf())) &&
        SUCCEEDED(collection->GetCount(&count))) {
      for (UINT i = 0; i < count; ++i) {
        ComPtr<IMMDevice> endpoint;
        if (FAILED(collection->Item(i, endpoint.GetAddressOf()))) break;
        DirectDevice device;
        std::wstring guid;
        if (!ReadEndpointString(endpoint.Get(), kFriendlyNameKey, device.name) ||
            !ReadEndpointString(endpoint.Get(), kEndpointGuidKey, guid)) {
          break;
        }
        LPWSTR id = nullptr;
        if (SUCCEEDED(endpoint->GetId(&id)) && id != nullptr) device.id = id;
        CoTaskMemFree(id);
        out.push_back(std::move(device));
      }
    }
  }
  CoUninitialize();
}

DirectSoundSession::~DirectSoundSession() {
  if (props_ != nullptr) props_->Release();
  if (module_ != nullptr) FreeLibrary(module_);
}

bool DirectSoundSession::Open() {
  using GetClassObjectFn = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);
  module_ = LoadLibraryExW(L"dsound.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (module_ == nullptr) return false;
  enumerate_ = reinterpret_cast<CaptureEnumerateFn>(
      reinterpret_cast<void*>(GetProcAddress(module_, "DirectSoundCaptureEnumerateW")));
  auto getClassObject = reinterpret_cast<GetClassObjectFn>(
      reinterpret_cast<void*>(GetProcAddress(module_, "DllGetClassObject")));
  if (enumerate_ == nullptr || getClassObject == nullptr) return false;
  ComPtr<IClassFactory> factory;
  if (getClassObject(kDirectSoundPrivateClsid, IID_IClassFactory,
                     reinterpret_cast<void**>(factory.GetAddressOf())) != S_OK ||
      !factory) {
    return false;
  }
  return SUCCEEDED(
      factory->CreateInstance(nullptr, kKsPropertySetIid, reinterpret_cast<void**>(&props_)));
}

void DirectSoundSession::Enumerate(DirectList& out) {
  out.clear();
  if (enumerate_ == nullptr || props_ == nullptr) return;
  target_ = &out;
  enumerate_(&DirectSoundSession::OnDevice, this);
  target_ = nullptr;
}

BOOL CALLBACK DirectSoundSession::OnDevice(GUID* guid, LPCWSTR, LPCWSTR, void* context) {
  if (guid == nullptr) return TRUE;  // DirectSound's default-device entry
  auto* self = static_cast<DirectSoundSession*>(context);
  DescriptionData block{};
  block.deviceId = *guid;
  ULONG returned = 0;
  self->props_->Get(kDirectSoundDevicePropSet, kDescriptionPropertyId, nullptr, 0, &block,
                    sizeof block, &returned);
  if (returned == 0) return TRUE;
  self->scratch_.resize(std::max<std::size_t>(returned, sizeof block));
  std::memcpy(self->scratch_.data(), &block, sizeof block);
  if (FAILED(self->props_->Get(kDirectSoundDevicePropSet, kDescriptionPropertyId, nullptr, 0,
                               self->scratch_.data(), returned, &returned))) {
    return TRUE;
  }
  const auto* data = reinterpret_cast<const DescriptionData*>(self->scratch_.data());
  if (data->description == nullptr) return TRUE;
  DirectDevice device;
  device.name = data->description;
  if (data->interfaceText != nullptr) device.id = data->interfaceText;
  self->target_->push_back(std::move(device));
  return TRUE;
}

}  // namespace kestrel_direct
