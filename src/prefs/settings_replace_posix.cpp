// Replacing a settings file as a whole: under flock on "<file>.lock" beside it, through a
// synced temporary ".#<file>.XXXXXX" in the same folder renamed over it, so that a reader
// sees the old file or the new one and the values of one write always together.
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <thread>

#include "core/rw_lock.h"
#include "core/scoped_fd_posix.h"
#include "log/log.h"
#include "prefs/settings_file_posix.h"
#include "prefs/settings_paths_linux.h"

namespace SettingsFiles {
namespace {

constexpr int kLockAttempts = 1000;
constexpr std::chrono::milliseconds kLockRetryDelay{2};
constexpr int kMaxLinkHops = 40;
// A temporary file is this, the settings file's name, a dot and mkostemp's six characters:
// hidden, and named as no person names a file, so that removing leftovers can never take a
// user's own. (Leftovers of earlier versions, "<file>.tmp.XXXXXX", stay: a person may well
// call a copy "kestrel.conf.tmp.backup".)
constexpr std::string_view kTemporaryPrefix = ".#";
constexpr std::size_t kTemporaryUniqueLength = 6;

std::atomic<RenameFn> g_rename{&std::rename};

// Keeps this process's writers in line; flock keeps other processes' writers out.
RwLock g_writeLock;

// The name of a temporary file of the settings file at path, without its unique part.
std::string TemporaryPrefix(const std::string& path) {
  return std::string(kTemporaryPrefix).append(NameOf(path)).append(1, '.');
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

bool ReplaceLocked(const std::string& userPath, const SettingsText::Change* changes,
                   std::size_t count) REQUIRES(g_writeLock) {
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

}  // namespace

bool ReplaceSettingsFile(const std::string& path, const SettingsText::Change* changes,
                         std::size_t count) {
  const ExclusiveHold hold(g_writeLock);
  return ReplaceLocked(path, changes, count);
}

void SetRename(RenameFn rename) { g_rename.store(rename != nullptr ? rename : &std::rename); }

}  // namespace SettingsFiles
