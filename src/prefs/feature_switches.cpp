// The machine-wide switches and the user's audio-in option, read afresh at every call.
#include <windows.h>

#include "prefs/reg_utils.h"
#include "prefs/user_prefs_util.h"

namespace UserPrefsUtil {

bool IsFeatureEnabled() {
  return !RegUtils::GetBOOL(HKEY_LOCAL_MACHINE, kKestrelKeyPath, L"IsDisabled", false);
}

bool IsAInWasapiEnabled() {
  return RegUtils::GetBOOL(HKEY_LOCAL_MACHINE, kKestrelKeyPath, L"EnableAInWasapi", true);
}

// The option is handed back unchecked; the exported call judges its range.
DWORD GetAudioInOption() {
  return RegUtils::GetDWORD(HKEY_CURRENT_USER, kKestrelKeyPath, L"srcAudioInOption", 0);
}

bool SetAudioInOption(DWORD value) {
  return RegUtils::SetDWORD(HKEY_CURRENT_USER, kKestrelKeyPath, L"srcAudioInOption", value);
}

}  // namespace UserPrefsUtil
