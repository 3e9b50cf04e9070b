// The library's settings, read afresh at every call: the machine-wide switches (read
// only), the user's audio-in option, and the stored preference texts. Each platform
// keeps them in its own store (settings_win.cpp: the registry; settings_linux.cpp: the
// XDG settings files), under the same value names.
#pragma once

#include <cstdint>
#include <string>

namespace UserPrefsUtil {

// Where a value read came from, for the log lines that explain a decision.
enum class SettingSource { kDefault, kUser, kMachine };
// "user ..." or "machine ..." with the store's own name, or the default's.
const char* SettingSourceName(SettingSource source);

bool IsFeatureEnabled();  // not "IsDisabled"
// "EnableAInWasapi", default true; source, when given, says where the value came from.
bool IsPrimaryAudioEnabled(SettingSource* source = nullptr);
std::uint32_t GetAudioInOption();  // "srcAudioInOption", default 0
bool SetAudioInOption(std::uint32_t value);

// The user's text of a preference value, or the machine-wide one when the user has none;
// the empty text (source kDefault) when neither has one.
std::wstring ReadPreferenceText(const wchar_t* valueName, SettingSource* source = nullptr);
// Stores the user's id text, then the name text only when the id was stored; true when
// both were (the settings files take both in one rewrite). Callers keep other writers of
// the same pair in this process out meanwhile.
bool WritePreferencePair(const wchar_t* idValueName, const std::wstring& id,
                         const wchar_t* nameValueName, const std::wstring& name);

}  // namespace UserPrefsUtil
