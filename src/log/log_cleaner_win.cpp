#include "log/log_cleaner.h"

#include <windows.h>

#include "log/log.h"

LogCleaner::~LogCleaner() {
  Stop();
  secondText_.clear();
  secondText_.shrink_to_fit();
  firstText_.clear();
  firstText_.shrink_to_fit();
}

void LogCleaner::Stop() {
  Log(kLogLevelTrivia, "%s - stop log cleaner ....", "LogCleaner::Stop");
  // The event is signalled before the wait and closed only after the thread has ended.
  if (stopEvent_ != nullptr) SetEvent(stopEvent_);
  if (workerThread_ != nullptr) {
    WaitForSingleObject(workerThread_, INFINITE);
    CloseHandle(workerThread_);
    workerThread_ = nullptr;
  }
  if (stopEvent_ != nullptr) {
    CloseHandle(stopEvent_);
    stopEvent_ = nullptr;
  }
  Log(kLogLevelTrivia, "%s - log cleaner stopped.", "LogCleaner::Stop");
}
