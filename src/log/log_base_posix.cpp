// POSIX implementation of the log facility's base layer.
#include "log/log_base.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <new>

struct RecLock {
  pthread_mutex_t mutex;
};

RecLock* RecLock_Create(const char* /*name*/, std::uint32_t /*rank*/) {
  RecLock* lock = new (std::nothrow) RecLock;
  if (lock == nullptr) return nullptr;
  pthread_mutexattr_t attributes;
  pthread_mutexattr_init(&attributes);
  pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
  const int result = pthread_mutex_init(&lock->mutex, &attributes);
  pthread_mutexattr_destroy(&attributes);
  if (result != 0) {
    delete lock;
    return nullptr;
  }
  return lock;
}

RecLock* RecLock_Static() {
  static RecLock lock = {PTHREAD_RECURSIVE_MUTEX_INITIALIZER_NP};  // nothing to free
  return &lock;
}

void RecLock_Destroy(RecLock* lock) {
  if (lock == nullptr) return;
  pthread_mutex_destroy(&lock->mutex);
  delete lock;
}

void RecLock_Acquire(RecLock* lock) { pthread_mutex_lock(&lock->mutex); }

void RecLock_Release(RecLock* lock) { pthread_mutex_unlock(&lock->mutex); }

// errno stands in for the thread's last-error code.
std::uint32_t Base_GetLastError() { return static_cast<std::uint32_t>(errno); }

void Base_SetLastError(std::uint32_t code) { errno = static_cast<int>(code); }

void Base_GetSystemTime(LogSystemTime* time) {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  tm fields{};
  gmtime_r(&now.tv_sec, &fields);
  time->year = fields.tm_year + 1900;
  time->month = fields.tm_mon + 1;
  time->day = fields.tm_mday;
  time->hour = fields.tm_hour;
  time->minute = fields.tm_min;
  time->second = fields.tm_sec;
  time->milliseconds = static_cast<int>(now.tv_nsec / 1000000);
}

std::uint32_t Base_CurrentThreadId() { return static_cast<std::uint32_t>(gettid()); }

bool Base_ReadLogSetting(std::string* value) {
  // secure_getenv: a set-user-ID host must not let its caller pick a file to write to.
  const char* text = secure_getenv("KESTREL_LOG");
  if (text == nullptr) return false;
  value->assign(text);
  return true;
}

struct LogDestination {
  int fd;
  bool ownFd;      // a file we opened, not the process's standard error
  bool plainFile;  // can neither fill up nor lose its reader
};

LogDestination* Base_OpenLogDestination(const char* path) {
  const int savedErrno = errno;
  auto* destination = new (std::nothrow) LogDestination{STDERR_FILENO, false, false};
  if (destination != nullptr && path != nullptr) {
    // O_NONBLOCK: opening a FIFO without a reader fails instead of waiting for one, and a
    // full one never holds a caller up. O_NOCTTY: a terminal never becomes ours.
    destination->fd =
        open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0600);
    destination->ownFd = true;
    struct stat status {};
    if (destination->fd < 0) {
      delete destination;
      destination = nullptr;
    } else {
      destination->plainFile = fstat(destination->fd, &status) == 0 && S_ISREG(status.st_mode);
    }
  }
  errno = savedErrno;
  return destination;
}

namespace {

// Writes all of bytes, again after a signal; false at the first failure (errno says why).
bool WriteAll(int fd, const char* bytes, std::size_t size) {
  while (size > 0) {
    const ssize_t written = write(fd, bytes, size);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    bytes += written;
    size -= static_cast<std::size_t>(written);
  }
  return true;
}

}  // namespace

void Base_WriteLogDestination(LogDestination* destination, const char* bytes, std::size_t size) {
  const int savedErrno = errno;
  const int fd = destination->fd;
  if (destination->plainFile) {
    WriteAll(fd, bytes, size);
    errno = savedErrno;
    return;
  }
  // A full pipe or a paused terminal (standard error is shared, so it cannot be made
  // non-blocking) loses the line rather than holding the caller.
  pollfd ready{fd, POLLOUT, 0};
  if (poll(&ready, 1, 0) != 1 || (ready.revents & POLLOUT) == 0) {
    errno = savedErrno;
    return;
  }
  // A reader that went away raises SIGPIPE at the writing thread, which would end a host
  // that keeps the default action: block it around the write and take back what we raised.
  sigset_t pipeSignal;
  sigset_t previous;
  sigset_t pending;
  sigemptyset(&pipeSignal);
  sigaddset(&pipeSignal, SIGPIPE);
  const bool blocked = pthread_sigmask(SIG_BLOCK, &pipeSignal, &previous) == 0;
  const bool pendingBefore = sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1;
  if (!WriteAll(fd, bytes, size) && errno == EPIPE && blocked && !pendingBefore) {
    const timespec none{};
    while (sigtimedwait(&pipeSignal, nullptr, &none) < 0 && errno == EINTR) {
    }
  }
  if (blocked) pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  errno = savedErrno;
}

void Base_CloseLogDestination(LogDestination* destination) {
  if (destination == nullptr) return;
  const int savedErrno = errno;
  if (destination->ownFd) close(destination->fd);
  delete destination;
  errno = savedErrno;
}
