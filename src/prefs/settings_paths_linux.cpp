// The XDG rules of the settings files' places. A relative or empty XDG_CONFIG_HOME or HOME
// is ignored; without HOME the password database's home counts. XDG_CONFIG_DIRS is never
// asked, so a user's environment cannot move the machine's file.
#include "prefs/settings_paths_linux.h"

#include <pwd.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <vector>

#include "log/log.h"

namespace SettingsFiles {
namespace {

constexpr char kMachineSettingsPath[] = "/etc/xdg/corvane/meridel/kestrel.conf";
constexpr char kUserSettingsSubPath[] = "/corvane/meridel/kestrel.conf";
constexpr std::size_t kMaxPasswordBuffer = std::size_t{1} << 16;

std::atomic<const char*> g_machineSettingsPath{kMachineSettingsPath};

// A path from the environment as the XDG rules take it: set and absolute. A set-user-id
// host does not take it from whoever started it.
const char* AbsolutePathFromEnvironment(const char* name) {
  const char* value = secure_getenv(name);
  return value != nullptr && value[0] == '/' ? value : nullptr;
}

std::string PasswordDatabaseHome() {
  const long suggested = sysconf(_SC_GETPW_R_SIZE_MAX);
  for (std::size_t size = suggested > 0 ? static_cast<std::size_t>(suggested) : 1024;
       size <= kMaxPasswordBuffer; size *= 2) {
    std::vector<char> buffer(size);
    passwd entry{};
    passwd* found = nullptr;
    const int error = getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found);
    if (error == ERANGE) continue;
    if (error == 0 && found != nullptr && found->pw_dir != nullptr && found->pw_dir[0] == '/') {
      return found->pw_dir;
    }
    break;
  }
  Log(kLogLevelError, "UserPrefsUtil - No home folder for user %u",
      static_cast<unsigned>(getuid()));
  return {};
}

}  // namespace

// Empty when the user has no home folder.
std::string UserSettingsPath() {
  if (const char* config = AbsolutePathFromEnvironment("XDG_CONFIG_HOME")) {
    return std::string(config) + kUserSettingsSubPath;
  }
  const char* home = AbsolutePathFromEnvironment("HOME");
  const std::string base = home != nullptr ? std::string(home) : PasswordDatabaseHome();
  return base.empty() ? std::string() : base + "/.config" + kUserSettingsSubPath;
}

std::string MachineSettingsPath() { return g_machineSettingsPath.load(); }

void SetMachineSettingsPath(const char* path) {
  g_machineSettingsPath.store(path != nullptr ? path : kMachineSettingsPath);
}

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == 0 ? std::string("/") : path.substr(0, slash);
}

std::string NameOf(const std::string& path) { return path.substr(path.rfind('/') + 1); }

}  // namespace SettingsFiles
