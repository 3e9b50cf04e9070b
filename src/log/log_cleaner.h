// LogCleaner: shaped to own a background thread and the event that tells it to stop.
// Nothing in this library starts it; the one global instance (built at load) only runs
// Stop at unload, which then finds nothing to stop. Non-copyable.
#pragma once

#include <string>

class LogCleaner {
 public:
  LogCleaner() = default;
  ~LogCleaner();
  LogCleaner(const LogCleaner&) = delete;
  LogCleaner& operator=(const LogCleaner&) = delete;

  // Signals the stop event, waits for the worker to end, and closes both handles.
  // Harmless when nothing runs; running it twice finds both handles null.
  void Stop();

 private:
  std::wstring firstText_;
  std::wstring secondText_;
  void* workerThread_ = nullptr;  // thread handle
  void* stopEvent_ = nullptr;     // event handle
};
