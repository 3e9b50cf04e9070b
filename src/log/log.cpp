// The log facility: filtering, formatting, the newline rule, masking, the lock and the
// two sinks (the ring, or the writer). Portable: the platform is reached only through
// log_base.h.
#include "log/log.h"

#include <cstring>

#include "log/log_base.h"
#include "log/log_record.h"
#include "log/log_ring.h"
#include "log/log_state.h"

const LogLevelInfo kLogLevelInfo[kLogLevelRowCount] = {
    {0, "audit", "No"},    {1, "panic", "Cr"},    {2, "error", "Er"},    {3, "warning", "Wa"},
    {4, "notice", "No"},   {5, "info", "In"},     {6, "verbose", "In"},  {7, "trivia", "In"},
    {8, "debug", "Db"},    {9, "debug1", "Db"},   {10, "debug2", "Db"},  {11, "debug3", "Db"},
    {12, "debug4", "Db"},  {13, "debug5", "Db"},  {14, "debug6", "Db"},  {15, "debug7", "Db"},
    {16, "debug8", "Db"},  {17, "debug9", "Db"},  {18, "debug10", "Db"}, {19, "debug11", "Db"},
    {20, "debug12", "Db"}, {21, "debug13", "Db"}, {22, "debug14", "Db"}, {23, "debug15", "Db"},
};

namespace {

constexpr const char* kLibraryLockName = "logLock";
constexpr std::uint32_t kLibraryLockRank = 0xFF000002;
static_assert(kLogFirstSubsystemModule == kLogModuleCount + 1 && kLogModuleShift == 5,
              "the library's subsystems follow the module table in the level word");
// Levels 24 to 31 have no row of their own and are recorded as "info".
constexpr std::uint32_t kLevelRowForUnnamedLevels = 5;

alignas(16) std::uint8_t g_libraryRingStorage[kLogRingCapacity];
LogRing g_libraryRing = {g_libraryRingStorage, g_libraryRingStorage, g_libraryRingStorage, 0,
                         kLogRingCapacity};

// Constant-initialised, so it is complete before any code of the process runs and
// other globals may log while they are built or torn down.
LogState g_libraryState = {
    kLibraryLockName,
    nullptr,
    kLibraryLockRank,
    0,
    0,
    {kLogLibraryRecordThreshold},
    {},
    g_libraryState.spareBuffer,
    &g_libraryRing,
    nullptr,
    nullptr,
    {},
};

// Whether a message is recorded: not when its module or level is switched off.
bool Wanted(const LogState* state, std::uint32_t levelWord) {
  const auto level = static_cast<std::int32_t>(levelWord & kLogLevelMask);
  if (level == 0) return true;  // audit records always land
  const std::uint32_t module = levelWord >> kLogModuleShift;
  // Module 0, and the numbers past the table (the library's subsystems among them), take
  // the default module's threshold.
  return module == 0 || module > kLogModuleCount
             ? level <= state->defaultThresholds.recordThreshold.load(std::memory_order_relaxed)
             : level <= kLogModuleInfo[module - 1].recordThreshold;
}

// The name a record's line shows for where it came from.
const char* SubsystemName(std::uint32_t levelWord) {
  const std::uint32_t module = levelWord >> kLogModuleShift;
  if (module >= 1 && module <= kLogModuleCount) return kLogModuleInfo[module - 1].name;
  const std::uint32_t index = module - kLogFirstSubsystemModule + 1;
  return module >= kLogFirstSubsystemModule && index < std::size(kLogSubsystemNames)
             ? kLogSubsystemNames[index]
             : kLogSubsystemNames[0];
}

// Setting bit 5 folds exactly 'Z', 'Q' and 'X' onto their small letters and maps no
// other byte onto 'z', 'q' or 'x', so this is a case-insensitive comparison.
bool IsLetter(char c, char smallLetter) {
  return (static_cast<unsigned char>(c) | 0x20) == smallLetter;
}

// Replaces every "zqx", in any letter case, left to right and without overlap.
void MaskSequence(char* text, std::size_t length) {
  std::size_t position = 0;
  std::size_t remaining = length;
  while (remaining >= 3) {
    if (IsLetter(text[position], 'z') && IsLetter(text[position + 1], 'q') &&
        IsLetter(text[position + 2], 'x')) {
      text[position] = text[position + 1] = text[position + 2] = '*';
      position += 3;
      remaining -= 3;
    } else {
      ++position;
      --remaining;
    }
  }
}

// Formats into the first buffer, else into the spare buffer, else cuts the message.
// Returns the text (NUL-terminated, newline not yet added) and its length; *spareTaken
// is the spare buffer when the caller must give it back.
char* FormatText(LogState* state, char* firstBuffer, const char* format, va_list args,
                 std::size_t* length, char** spareTaken) {
  *spareTaken = nullptr;
  va_list attempt;  // NOLINT(cppcoreguidelines-init-variables): va_copy fills it
  va_copy(attempt, args);
  int result = Base_Vsnprintf(firstBuffer, kLogFirstBufferSize - 1, format, attempt);
  va_end(attempt);
  if (result != -1) {
    *length = static_cast<std::size_t>(result);
    return firstBuffer;
  }
  char* spare = state->spareSlot.exchange(nullptr, std::memory_order_acquire);
  if (spare != nullptr) {
    *spareTaken = spare;
    va_copy(attempt, args);
    result = Base_Vsnprintf(spare, kLogSpareBufferSize - 1, format, attempt);
    va_end(attempt);
    if (result != -1) {
      *length = static_cast<std::size_t>(result);
      return spare;
    }
  }
  // The target already holds the message's first size - 1 bytes and a NUL (the
  // formatter's overflow contract), so it is cut where it stands.
  char* target = spare != nullptr ? spare : firstBuffer;
  const std::size_t size = spare != nullptr ? kLogSpareBufferSize - 1 : kLogFirstBufferSize - 1;
  *length = LogTrimUtf8(size, target);
  return target;
}

}  // namespace

// The analysis cannot see into RecLock, so these two tell it that the capability
// state->lock is taken and given back.
bool LogState_Lock(LogState* state) {
  RecLock* lock = LogState_ObtainLock(state);
  if (lock == nullptr) return false;
  RecLock_Acquire(lock);
  return true;
}

void LogState_Unlock(LogState* state) NO_THREAD_SAFETY_ANALYSIS {
  RecLock_Release(state->lock.load(std::memory_order_acquire));
}

void LogState_SetWriter(LogState* state, LogWriter* writer) {
  state->writer = writer;
  if (writer != nullptr) LogFlush(state, LogDispatch);
}

LogState& LogLibraryState() { return g_libraryState; }

// The state is not shared yet and has no lock to take.
void LogState_Init(LogState* state, LogRing* ring) NO_THREAD_SAFETY_ANALYSIS {
  state->lockName = kLibraryLockName;
  state->lock.store(nullptr);
  state->lockRank = kLibraryLockRank;
  state->lockCreating.store(0);
  state->depth = 0;
  state->defaultThresholds.recordThreshold.store(kLogLibraryRecordThreshold);
  state->spareSlot.store(state->spareBuffer);
  state->ring = ring;
  state->writer = nullptr;
  state->tagProvider = nullptr;
}

RecLock* LogState_ObtainLock(LogState* state) {
  RecLock* lock = state->lock.load(std::memory_order_acquire);
  if (lock != nullptr) return lock;
  // Calls that arrive while this runs are dropped (LogV checks lockCreating first), which
  // also stops a log call made from inside the lock's creation from recursing.
  state->lockCreating.fetch_add(1, std::memory_order_acq_rel);
  const bool library = state == &g_libraryState;
  RecLock* created = library ? RecLock_Static() : RecLock_Create(state->lockName, state->lockRank);
  RecLock* expected = nullptr;
  if (state->lock.compare_exchange_strong(expected, created, std::memory_order_acq_rel)) {
    lock = created;
  } else {
    if (!library) RecLock_Destroy(created);
    lock = expected;
  }
  state->lockCreating.fetch_sub(1, std::memory_order_acq_rel);
  return lock;
}

void LogV(LogState* state, std::uint32_t levelWord, const char* format, va_list args) {
  if (state->lockCreating.load(std::memory_order_acquire) != 0) return;
  if (!Wanted(state, levelWord)) return;
  const std::uint32_t level = levelWord & kLogLevelMask;
  const LogLevelInfo* levelRow =
      &kLogLevelInfo[level < kLogLevelRowCount ? level : kLevelRowForUnnamedLevels];

  char firstBuffer[kLogFirstBufferSize];
  char* spareTaken = nullptr;
  std::size_t length = 0;
  char* text = FormatText(state, firstBuffer, format, args, &length, &spareTaken);
  if (length == 0 || text[length - 1] != '\n') {
    text[length++] = '\n';
    text[length] = '\0';
  }
  if (length >= 3) MaskSequence(text, length);

  // Without a lock the sinks cannot run safely; the message is lost.
  if (LogState_Lock(state)) {
    ++state->depth;
    LogSink sink = LogBufferRecord;
    // The writer is never re-entered: a nested call (from the writer or the tag provider)
    // leaves its record in the ring for the next outermost call.
    if (state->depth <= 1 && state->writer != nullptr) {
      LogFlush(state, LogDispatch);
      sink = LogDispatch;
    }
    LogBuildHeader(state, levelRow, SubsystemName(levelWord), length, text, sink);
    --state->depth;
    LogState_Unlock(state);
  }

  if (spareTaken != nullptr) state->spareSlot.store(spareTaken, std::memory_order_release);
}

bool LogWants(std::uint32_t levelWord) { return Wanted(&g_libraryState, levelWord); }

void Log(std::uint32_t levelWord, const char* format, ...) {
  // Unwanted messages leave before anything else; nothing here touches the last error.
  if (!Wanted(&g_libraryState, levelWord)) return;
  const std::uint32_t lastError = Base_GetLastError();
  va_list args;  // NOLINT(cppcoreguidelines-init-variables): va_start fills it
  va_start(args, format);
  LogV(&g_libraryState, levelWord, format, args);
  va_end(args);
  Base_SetLastError(lastError);
}
