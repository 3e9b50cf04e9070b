// The two seams of the settings files (settings_linux.cpp) for tests: the library itself
// never calls them, and with neither called it reads the fixed machine file and renames
// with rename(2). Only while no other thread reads or writes settings.
#pragma once

namespace UserPrefsUtil {

// Reads the machine file at path instead of /etc/xdg/corvane/meridel/kestrel.conf; null
// puts the fixed path back. The text is not copied: it must outlive its use.
void SetMachineSettingsPathForTesting(const char* path);

// How a write puts its finished temporary file in place of the settings file: rename(2),
// unless a test puts in one that fails; null puts rename(2) back.
using RenameFn = int (*)(const char* from, const char* to);
void SetRenameForTesting(RenameFn rename);

}  // namespace UserPrefsUtil
