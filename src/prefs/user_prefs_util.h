// The user's preferred devices, the feature switches and the audio-in option.
#pragma once

#include <windows.h>

#include <string>

#include "devices/device_info.h"

struct DeviceKind;

namespace UserPrefsUtil {

// Switches (machine-wide, read only) and the audio-in option (current user).
bool IsFeatureEnabled();    // not "IsDisabled"
bool IsAInWasapiEnabled();  // "EnableAInWasapi", default true
DWORD GetAudioInOption();   // "srcAudioInOption", default 0
bool SetAudioInOption(DWORD value);

// The stored preference of a kind matched against its devices present now: exact id,
// then contained id, then exact name; the empty record when none is picked. The id and
// name are each the user's own text, or the machine-wide one when the user has none.
DeviceInfo PreferredDeviceInfo(const DeviceKind& kind);
// Stores the id, then the name only when the id was stored; true when both were.
// Within this process another pair write or a lookup of the same kind never runs
// between the two writes, so concurrent callers leave one caller's pair, not a mix.
bool SetPreferredPair(const DeviceKind& kind, std::wstring id, std::wstring name);

}  // namespace UserPrefsUtil
