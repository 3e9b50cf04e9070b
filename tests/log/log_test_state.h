// A log state of the test's own, over its own ring storage, and helpers to read back
// what it recorded.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "log/log.h"
#include "log/log_record.h"
#include "log/log_ring.h"
#include "log/log_state.h"

namespace kestrel_test {

struct PoppedRecord {
  LogRecordHeader header;
  std::string text;  // as stored, newline included
};

// Takes every entry out of ring, oldest first.
inline std::vector<PoppedRecord> PopAll(LogRing* ring, std::size_t textCapacity = 32768) {
  std::vector<PoppedRecord> records;
  std::vector<char> text(textCapacity);
  PoppedRecord record;
  std::size_t length = 0;
  while (LogRing_Pop(ring, textCapacity, &record.header, &length, text.data())) {
    record.text.assign(text.data(), length);
    records.push_back(record);
  }
  return records;
}

class TestLogState {
 public:
  explicit TestLogState(std::size_t ringCapacity = kLogRingCapacity)
      : storage_(ringCapacity), state_(std::make_unique<LogState>()) {
    LogRing_Init(&ring_, storage_.data(), ringCapacity);
    LogState_Init(state_.get(), &ring_);
  }
  ~TestLogState() { RecLock_Destroy(state_->lock.load()); }
  TestLogState(const TestLogState&) = delete;
  TestLogState& operator=(const TestLogState&) = delete;

  LogState* state() { return state_.get(); }
  LogRing* ring() { return &ring_; }

  void Log(std::uint32_t levelWord, const char* format, ...) KESTREL_PRINTF_FORMAT(3, 4) {
    va_list args;
    va_start(args, format);
    LogV(state_.get(), levelWord, format, args);
    va_end(args);
  }
  // Logs a text verbatim (it may be long or hold format characters).
  void LogText(std::uint32_t levelWord, const std::string& text) { Log(levelWord, "%s", text.c_str()); }

  void AddWriter(LogWriter* writer) { state_->writers[state_->writerCount++] = writer; }

  std::vector<PoppedRecord> Drain() { return PopAll(&ring_); }

 private:
  std::vector<std::uint8_t> storage_;
  LogRing ring_;
  std::unique_ptr<LogState> state_;
};

}  // namespace kestrel_test
