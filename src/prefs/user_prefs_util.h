// The feature switches (machine-wide, read only) and the user's audio-in option, read
// afresh at every call.
#pragma once

#include <windows.h>

namespace UserPrefsUtil {

bool IsFeatureEnabled();    // not "IsDisabled"
bool IsAInWasapiEnabled();  // "EnableAInWasapi", default true
DWORD GetAudioInOption();   // "srcAudioInOption", default 0
bool SetAudioInOption(DWORD value);

}  // namespace UserPrefsUtil
