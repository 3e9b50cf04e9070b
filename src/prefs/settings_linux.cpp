// The settings in the XDG settings files. (Placeholder until the file store lands:
// nothing stored, every write refused.)
#include "prefs/user_prefs_util.h"

namespace UserPrefsUtil {

bool IsFeatureEnabled() { return true; }
bool IsPrimaryAudioEnabled() { return true; }
std::uint32_t GetAudioInOption() { return 0; }
bool SetAudioInOption(std::uint32_t /*value*/) { return false; }
std::wstring ReadPreferenceText(const wchar_t* /*valueName*/) { return std::wstring(); }
bool WritePreferencePair(const wchar_t* /*idValueName*/, const std::wstring& /*id*/,
                         const wchar_t* /*nameValueName*/, const std::wstring& /*name*/) {
  return false;
}

}  // namespace UserPrefsUtil
