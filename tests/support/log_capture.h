// Test helpers for the library's static log: read what it recorded, and let tracing
// levels through for the length of a scope.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kestrel_test {

struct CapturedLogRecord {
  std::uint32_t level;  // the level number of the record's level row
  std::string text;     // without the trailing newline
};

// Takes every record out of the library's log ring, oldest first, under the log lock.
std::vector<CapturedLogRecord> DrainLibraryLog();

// Raises the library log's default record threshold (7 lets the tracing levels 6 and 7
// through) and restores the previous one on destruction. Not for concurrent scopes.
class ScopedLibraryLogThreshold {
 public:
  explicit ScopedLibraryLogThreshold(std::int32_t recordThreshold = 7);
  ~ScopedLibraryLogThreshold();
  ScopedLibraryLogThreshold(const ScopedLibraryLogThreshold&) = delete;
  ScopedLibraryLogThreshold& operator=(const ScopedLibraryLogThreshold&) = delete;

 private:
  std::int32_t previous_;
};

}  // namespace kestrel_test
