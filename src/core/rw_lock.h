// RwLock: a reader/writer lock that Clang's thread-safety analysis knows as a
// capability, so that what it guards names it (GUARDED_BY, REQUIRES). Not recursive.
// Statically initialised (an SRW lock on Windows, a pthread rwlock elsewhere), so a lock
// at namespace scope needs no construction or teardown at load or unload; taking it
// never fails. ExclusiveHold and SharedHold hold
// it for one scope and release it on every way out, exceptions included.
#pragma once

#if defined(_WIN32)
#include <windows.h>
#else
#include <pthread.h>
#endif

#include "log/thread_annotations.h"

class CAPABILITY("mutex") RwLock {
 public:
  constexpr RwLock() noexcept = default;
  ~RwLock() = default;
  RwLock(const RwLock&) = delete;
  RwLock& operator=(const RwLock&) = delete;

#if defined(_WIN32)
  void Lock() noexcept ACQUIRE() { AcquireSRWLockExclusive(&lock_); }
  void Unlock() noexcept RELEASE() { ReleaseSRWLockExclusive(&lock_); }
  void LockShared() noexcept ACQUIRE_SHARED() { AcquireSRWLockShared(&lock_); }
  void UnlockShared() noexcept RELEASE_SHARED() { ReleaseSRWLockShared(&lock_); }

 private:
  SRWLOCK lock_ = SRWLOCK_INIT;
#else
  // A default rwlock fails only on misuse (a second lock by the holder, a foreign
  // unlock), which the analysis rules out.
  void Lock() noexcept ACQUIRE() { pthread_rwlock_wrlock(&lock_); }
  void Unlock() noexcept RELEASE() { pthread_rwlock_unlock(&lock_); }
  void LockShared() noexcept ACQUIRE_SHARED() { pthread_rwlock_rdlock(&lock_); }
  void UnlockShared() noexcept RELEASE_SHARED() { pthread_rwlock_unlock(&lock_); }

 private:
  pthread_rwlock_t lock_ = PTHREAD_RWLOCK_INITIALIZER;
#endif
};

// The analysis skips constructors and destructors, so the holders take and give back
// the lock in ordinary member functions, which it checks: a SharedHold that gave its
// lock back as exclusive would not compile.
class SCOPED_CAPABILITY ExclusiveHold {
 public:
  explicit ExclusiveHold(RwLock& lock) noexcept ACQUIRE(lock) : lock_(lock) { Take(); }
  ~ExclusiveHold() RELEASE() { Give(); }
  ExclusiveHold(const ExclusiveHold&) = delete;
  ExclusiveHold& operator=(const ExclusiveHold&) = delete;

 private:
  void Take() noexcept ACQUIRE(lock_) { lock_.Lock(); }
  void Give() noexcept RELEASE(lock_) { lock_.Unlock(); }
  RwLock& lock_;
};

class SCOPED_CAPABILITY SharedHold {
 public:
  explicit SharedHold(RwLock& lock) noexcept ACQUIRE_SHARED(lock) : lock_(lock) { Take(); }
  ~SharedHold() RELEASE() { Give(); }
  SharedHold(const SharedHold&) = delete;
  SharedHold& operator=(const SharedHold&) = delete;

 private:
  void Take() noexcept ACQUIRE_SHARED(lock_) { lock_.LockShared(); }
  void Give() noexcept RELEASE_SHARED(lock_) { lock_.UnlockShared(); }
  RwLock& lock_;
};
