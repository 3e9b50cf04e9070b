// ScopedSrwLock holds a slim reader/writer lock for one scope, shared or exclusive, and
// releases it on every way out, exceptions included. Not copyable.
#pragma once

#include <windows.h>

class ScopedSrwLock {
 public:
  ScopedSrwLock(SRWLOCK* lock, bool exclusive) noexcept : lock_(lock), exclusive_(exclusive) {
    exclusive_ ? AcquireSRWLockExclusive(lock_) : AcquireSRWLockShared(lock_);
  }
  ~ScopedSrwLock() { exclusive_ ? ReleaseSRWLockExclusive(lock_) : ReleaseSRWLockShared(lock_); }
  ScopedSrwLock(const ScopedSrwLock&) = delete;
  ScopedSrwLock& operator=(const ScopedSrwLock&) = delete;

 private:
  SRWLOCK* lock_;
  bool exclusive_;
};
