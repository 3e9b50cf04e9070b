// What the library's own log recorded, and a scope that lets more levels through.
#pragma once

#include <string>
#include <vector>

#include "log/log_record.h"
#include "log/log_ring.h"
#include "log/log_state.h"

namespace kestrel_test {

struct CapturedRecord {
  std::uint32_t level;
  std::string text;  // without the newline
  std::string threadName;
};

// Takes every record out of the library's ring, oldest first.
inline std::vector<CapturedRecord> DrainLibraryLog() {
  LogState& state = LogLibraryState();
  std::vector<CapturedRecord> records;
  std::vector<char> text(kLogFlushBufferSize);
  LogRecordHeader header;
  std::size_t length = 0;
  RecLock* lock = LogState_ObtainLock(&state);
  RecLock_Acquire(lock);
  while (LogRing_Pop(state.ring, text.size(), &header, &length, text.data())) {
    records.push_back({header.level->level, std::string(text.data(), length - 1), header.threadName});
  }
  RecLock_Release(lock);
  return records;
}

class ScopedLibraryLogThreshold {
 public:
  explicit ScopedLibraryLogThreshold(std::int32_t threshold) { Threshold() = threshold; }
  ~ScopedLibraryLogThreshold() { Threshold() = previous_; }

 private:
  static std::int32_t& Threshold() { return LogLibraryState().defaultThresholds.recordThreshold; }
  const std::int32_t previous_ = Threshold();
};

}  // namespace kestrel_test
