// The settings files on disk: reading one, and replacing one with a rewritten text as a
// whole (settings_linux.cpp describes the format, the lock and the replacement).
#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <string>

#include "prefs/settings_text.h"

namespace SettingsFiles {

// A file over this is neither read (defaults) nor written (nothing in it is lost).
constexpr std::size_t kMaxFileSize = std::size_t{1} << 20;

enum class FileRead { kRead, kMissing, kFailed };

// status, when given, receives the file's status when it was read.
FileRead ReadSettingsFile(const std::string& path, std::string& text,
                          struct stat* status = nullptr);

// Applies the changes to the file at path (created with its folders when missing) under
// this process's lock and the lock file beside it; false, with the file as it was, when
// that fails.
bool ReplaceSettingsFile(const std::string& path, const SettingsText::Change* changes,
                         std::size_t count);

// How a replacement puts its finished temporary file in place: rename(2) unless set.
using RenameFn = int (*)(const char* from, const char* to);
void SetRename(RenameFn rename);

}  // namespace SettingsFiles
