#include "support/log_capture.h"

#include <memory>

#include "log/log_record.h"
#include "log/log_ring.h"
#include "log/log_state.h"

namespace kestrel_test {

std::vector<CapturedLogRecord> DrainLibraryLog() {
  LogState& state = LogLibraryState();
  std::vector<CapturedLogRecord> records;
  auto text = std::make_unique<char[]>(kLogFlushBufferSize);
  RecLock* lock = LogState_ObtainLock(&state);
  if (lock == nullptr) return records;
  RecLock_Acquire(lock);
  LogRecordHeader header;
  std::size_t length = 0;
  while (LogRing_Pop(state.ring, kLogFlushBufferSize, &header, &length, text.get())) {
    std::string line(text.get(), length);
    if (!line.empty() && line.back() == '\n') line.pop_back();
    records.push_back({header.level->level, std::move(line)});
  }
  RecLock_Release(lock);
  return records;
}

ScopedLibraryLogThreshold::ScopedLibraryLogThreshold(std::int32_t recordThreshold)
    : previous_(LogLibraryState().defaultThresholds.recordThreshold) {
  LogLibraryState().defaultThresholds.recordThreshold = recordThreshold;
}

ScopedLibraryLogThreshold::~ScopedLibraryLogThreshold() {
  LogLibraryState().defaultThresholds.recordThreshold = previous_;
}

}  // namespace kestrel_test
