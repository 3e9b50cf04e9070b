// POSIX implementation of the log facility's base layer, for host builds of the log
// core (sanitizer and fuzzing runs).
#include "log/log_base.h"

#include <pthread.h>

#include <new>

#include "log/log_platform.h"

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
