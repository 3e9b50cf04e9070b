// Where the settings files are (settings_linux.cpp describes them): the user's, from the
// environment or the password database, and the machine's fixed one, which tests move.
#pragma once

#include <string>

namespace SettingsFiles {

// The user's file; empty when the user has no home folder.
std::string UserSettingsPath();
std::string MachineSettingsPath();
// Null puts the fixed path back. The text is not copied: it must outlive its use.
void SetMachineSettingsPath(const char* path);

// The folder of a path ("/" for a file at the root), and its last part.
std::string FolderOf(const std::string& path);
std::string NameOf(const std::string& path);

}  // namespace SettingsFiles
