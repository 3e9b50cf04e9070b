// The user's preferred devices, the feature switches and the audio-in option.
#pragma once

#include <windows.h>

#include <string>

#include "devices/device_info.h"

namespace UserPrefsUtil {

// Switches (machine-wide, read only) and the audio-in option (current user).
bool IsFeatureEnabled();     // not "IsDisabled"
bool IsAInWasapiEnabled();   // "EnableAInWasapi", default true
DWORD GetAudioInOption();    // "srcAudioInOption", default 0
bool SetAudioInOption(DWORD value);

// The stored preference matched against the devices present now: exact id, then
// contained id, then exact name; the empty record when none is picked.
DeviceInfo PreferredWCamDeviceInfo();
DeviceInfo PreferredAInDeviceInfo();
std::wstring PreferredWCamId();
std::wstring PreferredWCamName();
std::wstring PreferredAInId();
std::wstring PreferredAInName();

}  // namespace UserPrefsUtil
