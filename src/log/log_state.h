// The log facility's configuration and working state, its level and module tables, and
// the record consumer it can hand records to. The library has one static instance
// (LogLibraryState); tests build their own.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "log/log_base.h"
#include "log/thread_annotations.h"

struct LogRing;
struct LogRecordHeader;

constexpr std::size_t kLogFirstBufferSize = 320;
constexpr std::size_t kLogSpareBufferSize = 32768;
constexpr std::size_t kLogFlushBufferSize = 32768;
constexpr std::uint32_t kLogLevelMask = 31;
constexpr std::uint32_t kLogModuleShift = 5;
constexpr std::uint32_t kLogLevelRowCount = 24;
constexpr std::uint32_t kLogModuleCount = 314;
constexpr std::size_t kLogTagSize = 33;
// The library's default module records levels 0 to 5 unless KESTREL_LOG asks for more.
constexpr std::int32_t kLogLibraryRecordThreshold = 5;

// A message is recorded when its level is at most its module's threshold (compared
// signed, so -1 switches the module off).
struct LogThresholds {
  // Atomic: KESTREL_LOG changes the default module's threshold while any thread may log.
  std::atomic<std::int32_t> recordThreshold;
};

struct LogLevelInfo {
  std::uint32_t level;
  const char* name;
  const char* tag;
};

struct LogModuleInfo {
  const char* name;
  std::int32_t recordThreshold;
};

// 24 rows in level order; levels 24 to 31 are recorded with row 5.
extern const LogLevelInfo kLogLevelInfo[kLogLevelRowCount];
// Module number n (1 to 314) is row n - 1.
extern const LogModuleInfo kLogModuleInfo[kLogModuleCount];

// The record consumer (what KESTREL_LOG writes to): write gets every record of a level
// at most maxLevel, one call per record, its text ending in a newline and a NUL.
struct LogWriter {
  std::int32_t maxLevel;
  void (*write)(LogWriter* writer, const LogRecordHeader* header, std::size_t length,
                const char* text);
};

// Fills the tag of each record header; returns true when it wrote a tag.
struct LogTagProvider {
  bool (*provide)(LogTagProvider* provider, std::size_t capacity, char* tag);
  void* context;
};

// A state's lock: null until the first caller that needs it creates it
// (LogState_ObtainLock). Typed as a capability so that what the lock guards, and the
// functions that need it held, can name it for the thread-safety analysis.
struct CAPABILITY("mutex") LogStateLock : std::atomic<RecLock*> {
  using std::atomic<RecLock*>::atomic;
};

struct LogState {
  const char* lockName;
  LogStateLock lock;
  std::uint32_t lockRank;
  std::atomic<std::uint32_t> lockCreating;  // non-zero while some thread creates lock
  std::uint32_t depth GUARDED_BY(lock);     // nesting inside the lock
  LogThresholds defaultThresholds;
  char spareBuffer[kLogSpareBufferSize];
  std::atomic<char*> spareSlot;        // spareBuffer while free, null while a call holds it
  LogRing* ring GUARDED_BY(lock);      // the only way to the ring, so the ring too
  LogWriter* writer GUARDED_BY(lock);  // null: records stay in the ring
  LogTagProvider* tagProvider GUARDED_BY(lock);
  // Receives record texts taken out of the ring on their way to the writer. Kept per
  // state so that two states never share it.
  char flushBuffer[kLogFlushBufferSize] GUARDED_BY(lock);
};

// The library's own state: module 0 records levels 0 to 5, no writer (until KESTREL_LOG
// asks for one, log_output.h), no tag provider, records go to the library's 65,536-byte ring.
LogState& LogLibraryState();

// Puts a state into its initial configuration over the given ring (for states that
// tests build). The state must not be in use and must not own a lock.
void LogState_Init(LogState* state, LogRing* ring);

// The state's lock, created by the first caller that needs it (the library's own state
// takes RecLock_Static's); null when the system refused to create one. Callers that hold
// it may read and change the ring.
RecLock* LogState_ObtainLock(LogState* state);

// Takes the state's lock, creating it first when need be; false, with nothing held,
// when the system refused to create one.
bool LogState_Lock(LogState* state) TRY_ACQUIRE(true, state->lock);
void LogState_Unlock(LogState* state) RELEASE(state->lock);

// Makes writer (null: none) the state's writer; a new writer first gets the records the
// ring holds, oldest first.
void LogState_SetWriter(LogState* state, LogWriter* writer) REQUIRES(state->lock);
