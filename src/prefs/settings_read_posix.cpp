// Reading a settings file: a regular file of at most kMaxFileSize bytes, without a lock
// (a writer replaces the file whole, so a reader sees the old text or the new).
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "core/scoped_fd_posix.h"
#include "log/log.h"
#include "prefs/settings_file_posix.h"

namespace SettingsFiles {

FileRead ReadSettingsFile(const std::string& path, std::string& text, struct stat* status) {
  text.clear();
  // O_NONBLOCK: a FIFO in the file's place cannot hold the call up.
  ScopedFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  if (!fd) {
    if (errno == ENOENT) return FileRead::kMissing;
    Log(kLogLevelError, "UserPrefsUtil - Cannot open settings file '%s' (errno %d)", path.c_str(),
        errno);
    return FileRead::kFailed;
  }
  struct stat info {};
  if (fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
    Log(kLogLevelError, "UserPrefsUtil - Settings file '%s' is no regular file", path.c_str());
    return FileRead::kFailed;
  }
  if (status != nullptr) *status = info;
  char chunk[4096];
  for (;;) {
    const ssize_t count = read(fd.get(), chunk, sizeof chunk);
    if (count == 0) return FileRead::kRead;
    if (count < 0 && errno == EINTR) continue;
    if (count < 0) {
      Log(kLogLevelError, "UserPrefsUtil - Cannot read settings file '%s' (errno %d)", path.c_str(),
          errno);
      return FileRead::kFailed;
    }
    text.append(chunk, static_cast<std::size_t>(count));
    if (text.size() > kMaxFileSize) {
      Log(kLogLevelError, "UserPrefsUtil - Settings file '%s' is over %zu bytes", path.c_str(),
          kMaxFileSize);
      return FileRead::kFailed;
    }
  }
}

}  // namespace SettingsFiles
