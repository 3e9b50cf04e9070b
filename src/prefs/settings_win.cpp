// The settings in the registry, under kKestrelKeyPath: switches below HKEY_LOCAL_MACHINE,
// the user's values below HKEY_CURRENT_USER (with the machine's as the fall-back of a
// preference).
#include <windows.h>

#include "prefs/reg_utils.h"
#include "prefs/user_prefs_util.h"

namespace UserPrefsUtil {

const char* SettingSourceName(SettingSource source) {
  switch (source) {
    case SettingSource::kUser: return "user store, HKEY_CURRENT_USER";
    case SettingSource::kMachine: return "machine store, HKEY_LOCAL_MACHINE";
    case SettingSource::kDefault: break;
  }
  return "not set, the default";
}

bool IsFeatureEnabled() {
  return !RegUtils::GetBOOL(HKEY_LOCAL_MACHINE, kKestrelKeyPath, L"IsDisabled", false);
}

bool IsPrimaryAudioEnabled(SettingSource* source) {
  bool stored = false;
  const bool enabled =
      RegUtils::GetBOOL(HKEY_LOCAL_MACHINE, kKestrelKeyPath, L"EnableAInWasapi", true, &stored);
  if (source != nullptr) *source = stored ? SettingSource::kMachine : SettingSource::kDefault;
  return enabled;
}

// The option is handed back unchecked; the exported call judges its range.
std::uint32_t GetAudioInOption() {
  return RegUtils::GetDWORD(HKEY_CURRENT_USER, kKestrelKeyPath, L"srcAudioInOption", 0);
}

bool SetAudioInOption(std::uint32_t value) {
  return RegUtils::SetDWORD(HKEY_CURRENT_USER, kKestrelKeyPath, L"srcAudioInOption", value);
}

// Decided per value, so id and name may come from different roots.
std::wstring ReadPreferenceText(const wchar_t* valueName, SettingSource* source) {
  SettingSource from = SettingSource::kUser;
  std::wstring text = RegUtils::GetString(HKEY_CURRENT_USER, kKestrelKeyPath, valueName, L"", true);
  if (text.empty()) {
    from = SettingSource::kMachine;
    text = RegUtils::GetString(HKEY_LOCAL_MACHINE, kKestrelKeyPath, valueName, L"", true);
  }
  if (source != nullptr) *source = text.empty() ? SettingSource::kDefault : from;
  return text;
}

bool WritePreferencePair(const wchar_t* idValueName, const std::wstring& id,
                         const wchar_t* nameValueName, const std::wstring& name) {
  return RegUtils::SetString(HKEY_CURRENT_USER, kKestrelKeyPath, idValueName, id) &&
         RegUtils::SetString(HKEY_CURRENT_USER, kKestrelKeyPath, nameValueName, name);
}

}  // namespace UserPrefsUtil
