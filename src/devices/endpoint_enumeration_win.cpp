#include "devices/endpoint_enumeration.h"

#include <functiondiscoverykeys_devpkey.h>
#include <propsys.h>

#include "core/com_apartment.h"
#include "core/scoped_handle_win.h"
#include "core/scoped_prop_variant_win.h"
#include "core/text_utils.h"
#include "devices/platform_ids.h"
#include "log/log.h"

using Microsoft::WRL::ComPtr;

namespace {

constexpr char kEnumName[] = "WinDeviceUtil::EnumCaptureDevices";
constexpr char kRetrieveName[] = "WinDeviceUtil::RetrievePropertyValue";
constexpr char kGetIdName[] = "WinDeviceUtil::GetDeviceID";

const wchar_t* StateName(DWORD state) {
  switch (state) {
    case DEVICE_STATE_DISABLED: return L"disabled";
    case DEVICE_STATE_NOTPRESENT: return L"not present";
    case DEVICE_STATE_UNPLUGGED: return L"unplugged";
    default: return L"not active";
  }
}

// The capture endpoints the listing leaves out, each with its state, for a reader of the
// log. A second listing of its own, asked for only when debug lines are wanted: the
// listing itself never sees them, and a machine may remember many.
void LogInactiveEndpoints(IMMDeviceEnumerator* enumerator) {
  if (!LogWants(kLogLevelTrivia)) return;
  ComPtr<IMMDeviceCollection> collection;
  UINT count = 0;
  if (FAILED(enumerator->EnumAudioEndpoints(eCapture, DEVICE_STATEMASK_ALL & ~DEVICE_STATE_ACTIVE,
                                            collection.GetAddressOf())) ||
      !collection || FAILED(collection->GetCount(&count))) {
    return;
  }
  for (UINT i = 0; i < count; ++i) {
    ComPtr<IMMDevice> endpoint;
    ComPtr<IPropertyStore> store;
    ScopedPropVariant name;
    ScopedCoMem<wchar_t> id;
    DWORD state = 0;
    if (FAILED(collection->Item(i, endpoint.GetAddressOf())) || !endpoint) continue;
    endpoint->GetState(&state);
    endpoint->GetId(id.Receive());
    if (SUCCEEDED(endpoint->OpenPropertyStore(STGM_READ, store.GetAddressOf())) && store) {
      store->GetValue(kFriendlyNameKey, name.Receive());
    }
    const bool named = name.type() == VT_LPWSTR && name.get().pwszVal != nullptr;
    LOG_WIDE(kLogLevelTrivia, "%s - \"%ls\" (%ls): not listed, the endpoint is %ls", kEnumName,
             named ? name.get().pwszVal : L"", id.get() != nullptr ? id.get() : L"",
             StateName(state));
  }
}

}  // namespace

bool WinDeviceUtil::EnumCaptureDevices(DeviceInfoList& list) {
  list.clear();

  CCoInitialize apartment;
  if (FAILED(apartment.result())) {
    Log(kLogLevelError, "%s - failed to call CCoInitialize, error: %x.", kEnumName,
        static_cast<unsigned>(apartment.result()));
    return false;
  }

  // Declared so that every return releases the collection, then the current endpoint,
  // then the enumerator, and then leaves the apartment.
  ComPtr<IMMDeviceEnumerator> enumerator;
  ComPtr<IMMDevice> endpoint;
  ComPtr<IMMDeviceCollection> collection;

  HRESULT hr =
      CoCreateInstance(kMMDeviceEnumeratorClsid, nullptr, CLSCTX_ALL, kMMDeviceEnumeratorIid,
                       reinterpret_cast<void**>(enumerator.GetAddressOf()));
  if (FAILED(hr) || !enumerator) {
    Log(kLogLevelError, "%s - failed to call CoCreateInstance, error: %x.", kEnumName,
        static_cast<unsigned>(hr));
    return false;
  }
  LogInactiveEndpoints(enumerator.Get());
  hr = enumerator->EnumAudioEndpoints(eCapture, DEVICE_STATE_ACTIVE, collection.GetAddressOf());
  if (FAILED(hr) || !collection) {
    Log(kLogLevelError, "%s - failed to call EnumAudioEndpoints, error: %x.", kEnumName,
        static_cast<unsigned>(hr));
    return false;
  }
  UINT count = 0;
  hr = collection->GetCount(&count);
  if (FAILED(hr)) {
    Log(kLogLevelError, "%s - failed to call GetCount, error: %x.", kEnumName,
        static_cast<unsigned>(hr));
    return false;
  }

  for (UINT i = 0; i < count; ++i) {
    const int position = static_cast<int>(i);
    if (FAILED(collection->Item(i, endpoint.ReleaseAndGetAddressOf())) || !endpoint) {
      Log(kLogLevelError, "%s - failed to get index: %d of device.", kEnumName, position);
      return false;
    }
    std::wstring friendlyName;
    if (!RetrievePropertyValue(endpoint, kFriendlyNameKey, friendlyName)) {
      Log(kLogLevelError, "%s - failed to get friendly name: %d of device.", kEnumName, position);
      return false;
    }
    std::wstring guid;
    if (!RetrievePropertyValue(endpoint, kEndpointGuidKey, guid)) {
      Log(kLogLevelError, "%s - failed to get guid: %d of device.", kEnumName, position);
      return false;
    }

    DeviceInfo device;
    device.index = i;
    device.number = i;
    device.name = std::move(friendlyName);
    device.guid = ConvertToLower(std::move(guid));
    GetDeviceID(endpoint, device.path);  // without an id the endpoint is still listed
    device.id = device.path;
    list.push_back(device);
    endpoint.Reset();
  }

  for (const DeviceInfo& device : list) {
    LOG_WIDE(kLogLevelVerbose, "%s - Enum Audio Capture Device: \"%ls\" guid \"%ls\" devId \"%ls\"",
             kEnumName, device.name.c_str(), device.guid.c_str(), device.id.c_str());
  }
  return true;
}

bool WinDeviceUtil::GetDeviceID(const ComPtr<IMMDevice>& device, std::wstring& id) {
  ScopedCoMem<wchar_t> text;
  if (!device || FAILED(device->GetId(text.Receive()))) {
    Log(kLogLevelError, "%s - failed to get device ID.", kGetIdName);
    return false;
  }
  id = text.get() != nullptr ? text.get() : L"";
  return true;
}

bool WinDeviceUtil::RetrievePropertyValue(const ComPtr<IMMDevice>& device, const PROPERTYKEY& key,
                                          std::wstring& value) {
  if (!device) {
    Log(kLogLevelError, "%s - pointer of device is NULL.", kRetrieveName);
    return false;
  }
  ComPtr<IPropertyStore> store;
  if (FAILED(device->OpenPropertyStore(STGM_READ, store.GetAddressOf())) || !store) {
    Log(kLogLevelError, "%s - failed to open property store.", kRetrieveName);
    return false;
  }
  ScopedPropVariant property;
  if (FAILED(store->GetValue(key, property.Receive()))) {
    Log(kLogLevelError, "%s - failed to get key value.", kRetrieveName);
    return false;
  }
  // Only a wide string counts; a null one carries no text and counts as unreadable.
  if (property.type() != VT_LPWSTR || property.get().pwszVal == nullptr) return false;
  value = property.get().pwszVal;
  return true;
}
