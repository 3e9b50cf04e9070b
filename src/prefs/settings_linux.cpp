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
// Reads take no lock. A write holds this process's lock, then flock on "<file>.lock"
// beside the file (tried for about 2 s; a lock held longer fails the write), reads the
// file again, writes the new text to a temporary ".#<file>.XXXXXX" in the same folder
// (synced), renames it over the file and syncs the folder: a reader sees the old file or
// the new one, never half of it, and the values of one write always together. The new
// file keeps the old one's mode (and its owner, where the writer may give it); a file
// written for the first time gets mode 0600. A symlinked file stays a symlink (the end of
// its chain is what gets replaced). Missing folders on the way to the user file are
// created with mode 0700.
#include "prefs/settings_linux.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "core/rw_lock.h"
#include "core/scoped_fd_posix.h"
#include "core/utf8.h"
#include "log/log.h"
#include "prefs/settings_text.h"
#include "prefs/user_prefs_util.h"

namespace {

constexpr char kMachineSettingsPath[] = "/etc/xdg/corvane/meridel/kestrel.conf";
constexpr char kUserSettingsSubPath[] = "/corvane/meridel/kestrel.conf";
constexpr std::size_t kMaxFileSize = std::size_t{1} << 20;
constexpr std::size_t kMaxPasswordBuffer = std::size_t{1} << 16;
constexpr int kLockAttempts = 1000;
constexpr std::chrono::milliseconds kLockRetryDelay{2};
constexpr int kMaxLinkHops = 40;
// A temporary file is this, the settings file's name, a dot and mkostemp's six characters:
// hidden, and named as no person names a file, so that removing leftovers can never take a
// user's own. (Leftovers of earlier versions, "<file>.tmp.XXXXXX", stay: a person may well
// call a copy "kestrel.conf.tmp.backup".)
constexpr std::string_view kTemporaryPrefix = ".#";
constexpr std::size_t kTemporaryUniqueLength = 6;

std::atomic<const char*> g_machineSettingsPath{kMachineSettingsPath};
std::atomic<UserPrefsUtil::RenameFn> g_rename{&std::rename};

// Keeps this process's writers in line; flock keeps other processes' writers out.
RwLock g_writeLock;

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == 0 ? std::string("/") : path.substr(0, slash);
}

std::string NameOf(const std::string& path) { return path.substr(path.rfind('/') + 1); }

// The name of a temporary file of the settings file at path, without its unique part.
std::string TemporaryPrefix(const std::string& path) {
  return std::string(kTemporaryPrefix).append(NameOf(path)).append(1, '.');
}

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

// Empty when the user has no home folder.
std::string UserSettingsPath() {
  if (const char* config = AbsolutePathFromEnvironment("XDG_CONFIG_HOME")) {
    return std::string(config) + kUserSettingsSubPath;
  }
  const char* home = AbsolutePathFromEnvironment("HOME");
  const std::string base = home != nullptr ? std::string(home) : PasswordDatabaseHome();
  return base.empty() ? std::string() : base + "/.config" + kUserSettingsSubPath;
}

enum class FileRead { kRead, kMissing, kFailed };

// status, when given, receives the file's status when it was read.
FileRead ReadSettingsFile(const std::string& path, std::string& text,
                          struct stat* status = nullptr) {
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

// The value of key in the file at path, cut at a NUL as a registry text is; empty when
// the file or the value is missing or the file cannot be read.
std::string ReadValue(const std::string& path, std::string_view key) {
  std::string file;
  if (path.empty() || ReadSettingsFile(path, file) != FileRead::kRead) return std::string();
  const std::optional<std::string> value = SettingsText::FindValue(file, key);
  return value ? std::string(value->c_str()) : std::string();
}

std::wstring ReadText(const std::string& path, std::string_view key) {
  return ConvertUtf8ToWide(ReadValue(path, key).c_str());
}

std::string MachineSettingsPath() { return g_machineSettingsPath.load(); }

// A switch of the machine file; an empty or missing value gives the default.
bool ReadMachineSwitch(std::string_view key, bool defaultValue,
                       UserPrefsUtil::SettingSource* source = nullptr) {
  const std::string value = ReadValue(MachineSettingsPath(), key);
  if (source != nullptr) {
    *source = value.empty() ? UserPrefsUtil::SettingSource::kDefault
                            : UserPrefsUtil::SettingSource::kMachine;
  }
  return value.empty() ? defaultValue : SettingsText::ParseSwitch(value);
}

// Creates each missing folder of the path, mode 0700, as the XDG rules ask of a writer.
bool CreateFolders(const std::string& folder) {
  for (std::size_t slash = folder.find('/', 1);; slash = folder.find('/', slash + 1)) {
    const std::string part = folder.substr(0, slash);
    if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
      Log(kLogLevelError, "UserPrefsUtil - Cannot create folder '%s' (errno %d)", part.c_str(),
          errno);
      return false;
    }
    if (slash == std::string::npos) return true;
  }
}

// The file a write replaces: the path itself, or the end of its chain of symlinks
// (a relative target taken from the link's folder), so that a link stays a link. Empty
// when the chain cannot be followed to its end.
std::string ResolveLinks(std::string path) {
  for (int hop = 0; hop < kMaxLinkHops; ++hop) {
    char target[PATH_MAX];
    const ssize_t length = readlink(path.c_str(), target, sizeof target);
    if (length < 0 && (errno == EINVAL || errno == ENOENT)) return path;  // no (more) link
    if (length <= 0 || static_cast<std::size_t>(length) >= sizeof target) {
      Log(kLogLevelError, "UserPrefsUtil - Cannot follow link '%s' (errno %d)", path.c_str(),
          length < 0 ? errno : 0);
      return {};
    }
    if (target[0] != '/') {
      path = FolderOf(path);
      path += '/';
    } else {
      path.clear();
    }
    path.append(target, static_cast<std::size_t>(length));
  }
  Log(kLogLevelError, "UserPrefsUtil - Links loop at '%s'", path.c_str());
  return {};
}

// flock on a lock file, held while this lives. The lock file is never removed: a writer
// that opened it before the removal would lock a file that no one else sees.
class LockFileHold {
 public:
  // False when the lock cannot be had within about two seconds.
  bool Take(const std::string& path) {
    ScopedFd fd(open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOCTTY, 0600));
    int error = errno;
    for (int attempt = 0; fd && attempt < kLockAttempts; ++attempt) {
      if (flock(fd.get(), LOCK_EX | LOCK_NB) == 0) {
        fd_ = std::move(fd);
        return true;
      }
      error = errno;
      if (error != EWOULDBLOCK && error != EINTR) break;
      std::this_thread::sleep_for(kLockRetryDelay);
    }
    if (error == EWOULDBLOCK) {
      Log(kLogLevelError,
          "UserPrefsUtil - Cannot lock '%s': still held by another writer after %lld ms",
          path.c_str(), static_cast<long long>((kLockRetryDelay * kLockAttempts).count()));
    } else {
      Log(kLogLevelError, "UserPrefsUtil - Cannot lock '%s' (errno %d)", path.c_str(), error);
    }
    return false;
  }

 private:
  ScopedFd fd_;  // closing it gives the lock back
};

// A temporary file beside the settings file; removed again unless Commit() says that it
// has taken the settings file's place.
class TemporaryFile {
 public:
  TemporaryFile() = default;
  ~TemporaryFile() {
    if (!path_.empty()) unlink(path_.c_str());
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;

  // Creates it, with the owner and mode of the file it replaces (none: mode 0600), and
  // writes text to it, synced and closed.
  bool Write(const std::string& settingsPath, std::string_view text, const struct stat* replaced) {
    std::string path = FolderOf(settingsPath) + '/' + TemporaryPrefix(settingsPath);
    path.append(kTemporaryUniqueLength, 'X');
    ScopedFd fd(mkostemp(path.data(), O_CLOEXEC));
    if (!fd) return Failed("create", path);
    path_ = std::move(path);
    if (replaced != nullptr) KeepOwnerAndMode(fd.get(), *replaced);
    while (!text.empty()) {
      const ssize_t count = write(fd.get(), text.data(), text.size());
      if (count < 0 && errno == EINTR) continue;
      if (count <= 0) return Failed("write", path_);
      text.remove_prefix(static_cast<std::size_t>(count));
    }
    if (fsync(fd.get()) != 0 || !fd.Close()) return Failed("write", path_);
    return true;
  }
  const std::string& path() const { return path_; }
  void Commit() { path_.clear(); }

 private:
  // Only root may give a file to another user, and others only to a group of their own:
  // otherwise the writer and its group own it. A mode that cannot be set leaves 0600.
  void KeepOwnerAndMode(int fd, const struct stat& replaced) const {
    if ((replaced.st_uid != geteuid() || replaced.st_gid != getegid()) &&
        fchown(fd, replaced.st_uid, replaced.st_gid) != 0) {
      Log(kLogLevelVerbose, "UserPrefsUtil - Cannot keep the owner of '%s' (errno %d)",
          path_.c_str(), errno);
    }
    if (fchmod(fd, replaced.st_mode & 0777) != 0) Failed("keep the mode of", path_);
  }
  static bool Failed(const char* what, const std::string& path) {
    Log(kLogLevelError, "UserPrefsUtil - Cannot %s '%s' (errno %d)", what, path.c_str(), errno);
    return false;
  }
  std::string path_;
};

// Removes the temporary files of the settings file at path. Called with its lock file
// held: every writer creates its temporary only while it holds that lock, so any found
// now was left by a writer that died before its rename.
void RemoveStaleTemporaries(const std::string& path) {
  const std::string prefix = TemporaryPrefix(path);
  ScopedFd fd(open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  const std::unique_ptr<DIR, int (*)(DIR*)> folder(fd ? fdopendir(fd.get()) : nullptr, &closedir);
  if (!folder) return;
  static_cast<void>(fd.Take());  // the stream closes it now
  // readdir is unsafe only on a stream that threads share; this one is the call's own.
  while (const dirent* entry = readdir(folder.get())) {  // NOLINT(concurrency-mt-unsafe)
    const std::string_view name = entry->d_name;
    if (name.size() == prefix.size() + kTemporaryUniqueLength &&
        name.substr(0, prefix.size()) == prefix &&
        unlinkat(dirfd(folder.get()), entry->d_name, 0) != 0) {
      Log(kLogLevelError, "UserPrefsUtil - Cannot remove '%s' (errno %d)", entry->d_name, errno);
    }
  }
}

// Once renamed, the new file is the settings; a failure here only weakens its durability.
void SyncFolder(const std::string& folder) {
  const ScopedFd fd(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!fd || fsync(fd.get()) != 0) {
    Log(kLogLevelError, "UserPrefsUtil - Cannot sync folder '%s' (errno %d)", folder.c_str(),
        errno);
  }
}

bool WriteUserSettingsLocked(const SettingsText::Change* changes, std::size_t count)
    REQUIRES(g_writeLock) {
  const std::string userPath = UserSettingsPath();
  if (userPath.empty() || !CreateFolders(FolderOf(userPath))) return false;
  const std::string path = ResolveLinks(userPath);
  LockFileHold lock;
  if (path.empty() || !lock.Take(path + ".lock")) return false;
  // A file that is there but cannot be read is never replaced by one without its lines.
  std::string file;
  struct stat replaced {};
  const FileRead read = ReadSettingsFile(path, file, &replaced);
  if (read == FileRead::kFailed) return false;
  const std::string rewritten = SettingsText::Rewrite(file, changes, count);
  if (rewritten.size() > kMaxFileSize) {
    Log(kLogLevelError, "UserPrefsUtil - Settings for '%s' would be over %zu bytes", path.c_str(),
        kMaxFileSize);
    return false;
  }
  RemoveStaleTemporaries(path);
  TemporaryFile temporary;
  if (!temporary.Write(path, rewritten, read == FileRead::kRead ? &replaced : nullptr)) {
    return false;
  }
  if (g_rename.load()(temporary.path().c_str(), path.c_str()) != 0) {
    Log(kLogLevelError, "UserPrefsUtil - Cannot replace '%s' (errno %d)", path.c_str(), errno);
    return false;
  }
  temporary.Commit();
  SyncFolder(FolderOf(path));
  if (LogWants(kLogLevelTrivia)) {
    std::string values;
    for (std::size_t i = 0; i < count; ++i) {
      values.append(" ").append(changes[i].key).append("='").append(changes[i].value).append("'");
    }
    Log(kLogLevelTrivia, "UserPrefsUtil::WriteUserSettings - '%s' written:%s", path.c_str(),
        values.c_str());
  }
  return true;
}

// All changes in one rewrite of the user file.
bool WriteUserSettings(const SettingsText::Change* changes, std::size_t count)
    EXCLUDES(g_writeLock) {
  const ExclusiveHold hold(g_writeLock);
  return WriteUserSettingsLocked(changes, count);
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
  return SettingsText::ParseNumber(ReadValue(UserSettingsPath(), "srcAudioInOption"));
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
  std::wstring text = ReadText(UserSettingsPath(), key);
  if (text.empty()) {
    from = SettingSource::kMachine;
    text = ReadText(MachineSettingsPath(), key);
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
  g_machineSettingsPath.store(path != nullptr ? path : kMachineSettingsPath);
}

void SetRenameForTesting(RenameFn rename) {
  g_rename.store(rename != nullptr ? rename : &std::rename);
}

}  // namespace UserPrefsUtil
