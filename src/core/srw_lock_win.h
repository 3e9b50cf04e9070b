// SrwLock: a slim reader/writer lock that Clang's thread-safety analysis knows as a
// capability, so that what it guards names it (GUARDED_BY, REQUIRES). Not recursive.
// Statically initialised, so a lock at namespace scope needs no construction or
// teardown at load or unload; taking it never fails. ExclusiveHold and SharedHold hold
// it for one scope and release it on every way out, exceptions included.
#pragma once

#include <windows.h>

#include "log/thread_annotations.h"

class CAPABILITY("mutex") SrwLock {
 public:
  constexpr SrwLock() noexcept = default;
  ~SrwLock() = default;
  SrwLock(const SrwLock&) = delete;
  SrwLock& operator=(const SrwLock&) = delete;

  void Lock() noexcept ACQUIRE() { AcquireSRWLockExclusive(&lock_); }
  void Unlock() noexcept RELEASE() { ReleaseSRWLockExclusive(&lock_); }
  void LockShared() noexcept ACQUIRE_SHARED() { AcquireSRWLockShared(&lock_); }
  void UnlockShared() noexcept RELEASE_SHARED() { ReleaseSRWLockShared(&lock_); }

 private:
  SRWLOCK lock_ = SRWLOCK_INIT;
};

// The analysis skips constructors and destructors, so the holders take and give back
// the lock in ordinary member functions, which it checks: a SharedHold that gave its
// lock back as exclusive would not compile.
class SCOPED_CAPABILITY ExclusiveHold {
 public:
  explicit ExclusiveHold(SrwLock& lock) noexcept ACQUIRE(lock) : lock_(lock) { Take(); }
  ~ExclusiveHold() RELEASE() { Give(); }
  ExclusiveHold(const ExclusiveHold&) = delete;
  ExclusiveHold& operator=(const ExclusiveHold&) = delete;

 private:
  void Take() noexcept ACQUIRE(lock_) { lock_.Lock(); }
  void Give() noexcept RELEASE(lock_) { lock_.Unlock(); }
  SrwLock& lock_;
};

class SCOPED_CAPABILITY SharedHold {
 public:
  explicit SharedHold(SrwLock& lock) noexcept ACQUIRE_SHARED(lock) : lock_(lock) { Take(); }
  ~SharedHold() RELEASE() { Give(); }
  SharedHold(const SharedHold&) = delete;
  SharedHold& operator=(const SharedHold&) = delete;

 private:
  void Take() noexcept ACQUIRE_SHARED(lock_) { lock_.LockShared(); }
  void Give() noexcept RELEASE_SHARED(lock_) { lock_.UnlockShared(); }
  SrwLock& lock_;
};
