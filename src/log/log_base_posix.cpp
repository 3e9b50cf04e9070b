// POSIX implementation of the log facility's base layer, for host builds of the log
// core (sanitizer runs).
#include "log/log_base.h"

#include <fcntl.h>
#include <pthread.h>

#include <cerrno>
#include <cstdio>
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

void RecLock_Destroy(RecLock* lock) {
  if (lock == nullptr) return;
  pthread_mutex_destroy(&lock->mutex);
  delete lock;
}

void RecLock_Acquire(RecLock* lock) { pthread_mutex_lock(&lock->mutex); }

void RecLock_Release(RecLock* lock) { pthread_mutex_unlock(&lock->mutex); }

void Base_CurrentThreadName(char* buffer, std::size_t size) {
  if (size == 0) return;
  buffer[0] = '\0';
  char name[64];
  if (pthread_getname_np(pthread_self(), name, sizeof name) == 0) Base_Strcpy(buffer, name, size);
}

// No debugger channel on the host.
void Base_OutputDebugString(const char* /*text*/) {}

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

bool Base_StandardErrorExists() {
  if (stderr == nullptr) return false;
  const int descriptor = fileno(stderr);
  return descriptor >= 0 && fcntl(descriptor, F_GETFD) != -1;
}
