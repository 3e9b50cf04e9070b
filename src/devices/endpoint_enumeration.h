// Audio capture devices through the Core Audio endpoints: the active capture endpoints
// with their friendly name, DirectSound GUID and endpoint id.
#pragma once

#include <windows.h>
#include <mmdeviceapi.h>
#include <wrl/client.h>

#include <string>

#include "devices/device_info.h"

class WinDeviceUtil {
 public:
  // Clears list, then lists the active capture endpoints in a single-threaded apartment
  // of its own. True only when every endpoint was read; on a failure inside the loop
  // the records made before it stay in list.
  static bool EnumCaptureDevices(DeviceInfoList& list);
  // The endpoint id; false (id unchanged) when it cannot be read.
  static bool GetDeviceID(const Microsoft::WRL::ComPtr<IMMDevice>& device, std::wstring& id);
  // A string (VT_LPWSTR) property of the endpoint; any other type, or a failed read,
  // is false with value unchanged.
  static bool RetrievePropertyValue(const Microsoft::WRL::ComPtr<IMMDevice>& device,
                                    const PROPERTYKEY& key, std::wstring& value);
};
