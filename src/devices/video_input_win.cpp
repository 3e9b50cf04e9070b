// DirectShow video input enumeration. This file includes the DirectShow headers and
// therefore must not include dsound.h (see dsound_lib_win.cpp).
#include "devices/video_input.h"

#include <windows.h>
#include <dshow.h>
#include <wrl/client.h>

#include <cwchar>

#include "core/com_apartment.h"
#include "core/scoped_variant_win.h"
#include "core/text_utils.h"
#include "log/log.h"

using Microsoft::WRL::ComPtr;

namespace {

constexpr char kEnumDevicesName[] = "VideoInputWin::EnumDevices";

// A property counts as read only when it came back as a string; a BSTR may be null,
// which is the empty string. The text ends at its first NUL: a driver's (or the
// registry's) string may count a NUL inside its length, which no caller could match.
bool ReadStringProperty(IPropertyBag* bag, const wchar_t* name, std::wstring& out) {
  ScopedVariant value;
  if (FAILED(bag->Read(name, value.Receive(), nullptr)) || value.type() != VT_BSTR) {
    return false;
  }
  const BSTR text = value.get().bstrVal;
  out.assign(text != nullptr ? text : L"", text != nullptr ? wcsnlen(text, SysStringLen(text)) : 0);
  return true;
}

}  // namespace

bool VideoInput::EnumDevices(DeviceInfoList& list) {
  ComInit apartment;
  std::uint32_t deviceNumber = 0;

  ComPtr<ICreateDevEnum> systemEnumerator;
  if (FAILED(CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER,
                              IID_ICreateDevEnum,
                              reinterpret_cast<void**>(systemEnumerator.GetAddressOf())))) {
    Log(kLogLevelError, "%s - Failed to create SystemEnumerator instance", kEnumDevicesName);
    return true;
  }

  // S_FALSE means the category is empty; like any other result but S_OK it ends here.
  ComPtr<IEnumMoniker> monikers;
  const HRESULT hr = systemEnumerator->CreateClassEnumerator(CLSID_VideoInputDeviceCategory,
                                                             monikers.GetAddressOf(), 0);
  if (FAILED(hr)) {
    Log(kLogLevelError, "%s - Failed to create the video input enumerator, error: %x.",
        kEnumDevicesName, static_cast<unsigned>(hr));
  }
  if (hr != S_OK || !monikers) return true;

  ComPtr<IMoniker> moniker;
  while (monikers->Next(1, moniker.ReleaseAndGetAddressOf(), nullptr) == S_OK) {
    ComPtr<IPropertyBag> bag;
    if (!moniker ||
        FAILED(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag,
                                      reinterpret_cast<void**>(bag.GetAddressOf()))) ||
        !bag) {
      // Such a device takes no number.
      Log(kLogLevelTrivia, "%s - a device: not listed, its properties cannot be read",
          kEnumDevicesName);
      continue;
    }

    DeviceInfo device;
    // Without a readable "DevicePath" the device is listed with empty path and id.
    if (ReadStringProperty(bag.Get(), L"DevicePath", device.path)) device.id = device.path;
    if (!ReadStringProperty(bag.Get(), L"FriendlyName", device.name)) {
      LOG_WIDE(kLogLevelTrivia, "%s - device %u (path \"%ls\"): not listed, no name",
               kEnumDevicesName, deviceNumber, device.path.c_str());
      ++deviceNumber;  // counted, but not listed without a name
      continue;
    }
    device.index = deviceNumber;
    device.number = deviceNumber;
    device.kind = 2;
    LOG_WIDE(kLogLevelTrivia, "%s - device %u \"%ls\": listed, id \"%ls\"", kEnumDevicesName,
             deviceNumber, device.name.c_str(), device.id.c_str());
    list.push_back(device);
    ++deviceNumber;
  }
  return true;
}
