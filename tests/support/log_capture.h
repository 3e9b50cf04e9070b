// What the library's own log recorded.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "log/log_record.h"
#include "log/log_ring.h"
#include "log/log_state.h"

namespace kestrel_test {

struct CapturedRecord {
  std::string level;      // its level's name: "error", "verbose", "trivia"...
  std::string subsystem;  // the folder of src/ that logged ("devices"), or "kestrel"
  std::string text;       // without the newline
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
    records.push_back({header.level->name, header.subsystem, std::string(text.data(), length - 1)});
  }
  RecLock_Release(lock);
  return records;
}

// Records debug lines and above while it lives; Lines() takes what was logged since the
// start or the last call, one record a line after its level's and subsystem's names, as
// KESTREL_LOG writes them ("trivia devices: Fn - text").
class ScopedLogThreshold {
 public:
  ScopedLogThreshold() {
    DrainLibraryLog();
    LogLibraryState().defaultThresholds.recordThreshold = 7;
  }
  ~ScopedLogThreshold() { LogLibraryState().defaultThresholds.recordThreshold = saved_; }
  ScopedLogThreshold(const ScopedLogThreshold&) = delete;
  ScopedLogThreshold& operator=(const ScopedLogThreshold&) = delete;

  static std::string Lines() {
    std::string lines;
    for (const CapturedRecord& record : DrainLibraryLog())
      lines += record.level + " " + record.subsystem + ": " + record.text + "\n";
    return lines;
  }

 private:
  std::int32_t saved_ = LogLibraryState().defaultThresholds.recordThreshold;
};

// Each of the '|'-separated phrases of expected somewhere in lines.
inline void ExpectLogged(const std::string& lines, const std::string& expected) {
  for (std::size_t start = 0; start < expected.size();) {
    const std::string phrase = expected.substr(start, expected.find('|', start) - start);
    EXPECT_NE(lines.find(phrase), std::string::npos) << "'" << phrase << "' in:\n" << lines;
    start += phrase.size() + 1;
  }
}

}  // namespace kestrel_test
