// What the library's own log recorded.
#pragma once

#include <string>
#include <vector>

#include "log/log_record.h"
#include "log/log_ring.h"
#include "log/log_state.h"

namespace kestrel_test {

struct CapturedRecord {
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
    records.push_back({std::string(text.data(), length - 1), header.threadName});
  }
  RecLock_Release(lock);
  return records;
}

}  // namespace kestrel_test
