// The settings in two files of UTF-8 "key=value" lines:
//   user     ${XDG_CONFIG_HOME:-$HOME/.config}/corvane/meridel/kestrel.conf
//   machine  /etc/xdg/corvane/meridel/kestrel.conf (only read)
// A relative or empty XDG_CONFIG_HOME or HOME is ignored; without HOME the password
// database's home counts. The switches IsDisabled and EnableAInWasapi (off: ALSA instead
// of the sound server) come from the machine file alone: XDG_CONFIG_DIRS and the user's
// file are never asked, so a user's environment cannot lift an administrator's switch.
// The user file holds srcAudioInOption and the preferences srcWCamId, srcWCamName,
// srcAudioInId and srcAudioInName; for these four the machine file is the fall-back of
// each value on its own.
//
// Format. A key is the text before a line's first '=', without surrounding blanks, and
// compares without regard to ASCII letter case, as a registry value name does. The value
// is the rest of the line with its leading blanks dropped (and a CR that ends it: CRLF
// files read as LF ones); in it \\ is a backslash, \n a newline, \t a tab, \r a carriage
// return and \s a space (written for a leading space), and any other backslash stays as
// it is. The first line of a key counts; an empty value is no value. Blank
// lines, lines that start with '#' or ';' and lines of other keys are kept, in place,
// when the library rewrites the file; a key written again takes the place of its first
// line (its later lines go), a new key is appended. A file over 1 MiB is neither read
// (defaults) nor written (nothing in it is lost).
//
// Reads take no lock. A write holds this process's lock, then the lock file beside the file
// (settings_replace_posix.cpp), and replaces the file whole. Where the files are:
// settings_paths_linux.cpp; the text: settings_text.cpp.
#include "prefs/settings_linux.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/utf8.h"
#include "log/log.h"
#include "prefs/settings_file_posix.h"
#include "prefs/settings_paths_linux.h"
#include "prefs/settings_text.h"
#include "prefs/user_prefs_util.h"

namespace {

// The value of key in the file at path, cut at a NUL as a registry text is; empty when
// the file or the value is missing or the file cannot be read.
std::string ReadValue(const std::string& path, std::string_view key) {
  std::string file;
  if (path.empty() || SettingsFiles::ReadSettingsFile(path, file) != SettingsFiles::FileRead::kRead)
    return std::string();
  const std::optional<std::string> value = SettingsText::FindValue(file, key);
  return value ? std::string(value->c_str()) : std::string();
}

std::wstring ReadText(const std::string& path, std::string_view key) {
  return ConvertUtf8ToWide(ReadValue(path, key).c_str());
}

// A switch of the machine file; an empty or missing value gives the default.
bool ReadMachineSwitch(std::string_view key, bool defaultValue,
                       UserPrefsUtil::SettingSource* source = nullptr) {
  const std::string value = ReadValue(SettingsFiles::MachineSettingsPath(), key);
  if (source != nullptr) {
    *source = value.empty() ? UserPrefsUtil::SettingSource::kDefault
                            : UserPrefsUtil::SettingSource::kMachine;
  }
  return value.empty() ? defaultValue : SettingsText::ParseSwitch(value);
}

// All changes in one rewrite of the user file.
bool WriteUserSettings(const SettingsText::Change* changes, std::size_t count) {
  return SettingsFiles::ReplaceSettingsFile(SettingsFiles::UserSettingsPath(), changes, count);
}

}  // namespace

namespace UserPrefsUtil {

const char* SettingSourceName(SettingSource source) {
  switch (source) {
    case SettingSource::kUser: return "user file";
    case SettingSource::kMachine: return "machine file";
    case SettingSource::kDefault: break;
  }
  return "not set, the default";
}

bool IsFeatureEnabled() { return !ReadMachineSwitch("IsDisabled", false); }

bool IsPrimaryAudioEnabled(SettingSource* source) {
  return ReadMachineSwitch("EnableAInWasapi", true, source);
}

// The option is handed back unchecked; the exported call judges its range. A missing
// value, and the text "Default" that the registry store takes for one, read 0 anyway.
std::uint32_t GetAudioInOption() {
  return SettingsText::ParseNumber(
      ReadValue(SettingsFiles::UserSettingsPath(), "srcAudioInOption"));
}

bool SetAudioInOption(std::uint32_t value) {
  const std::string text = SettingsText::FormatNumber(value);
  const SettingsText::Change change{"srcAudioInOption", text};
  return WriteUserSettings(&change, 1);
}

// Decided per value, so id and name may come from different files.
std::wstring ReadPreferenceText(const wchar_t* valueName, SettingSource* source) {
  const std::string key = ConvertWideToUtf8(valueName);
  SettingSource from = SettingSource::kUser;
  std::wstring text = ReadText(SettingsFiles::UserSettingsPath(), key);
  if (text.empty()) {
    from = SettingSource::kMachine;
    text = ReadText(SettingsFiles::MachineSettingsPath(), key);
  }
  if (source != nullptr) *source = text.empty() ? SettingSource::kDefault : from;
  return text;
}

bool WritePreferencePair(const wchar_t* idValueName, const std::wstring& id,
                         const wchar_t* nameValueName, const std::wstring& name) {
  const std::string idKey = ConvertWideToUtf8(idValueName);
  const std::string nameKey = ConvertWideToUtf8(nameValueName);
  const std::string idText = ConvertWideToUtf8(id.c_str());
  const std::string nameText = ConvertWideToUtf8(name.c_str());
  const SettingsText::Change changes[] = {{idKey, idText}, {nameKey, nameText}};
  return WriteUserSettings(changes, 2);
}

void SetMachineSettingsPathForTesting(const char* path) {
  SettingsFiles::SetMachineSettingsPath(path);
}

void SetRenameForTesting(RenameFn rename) { SettingsFiles::SetRename(rename); }

}  // namespace UserPrefsUtil
