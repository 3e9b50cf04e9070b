// The library's own static log state: what its built-in configuration keeps.
#include <gtest/gtest.h>

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <string>

#include "log/log.h"
#include "log/log_cleaner.h"
#include "log/log_state.h"
#include "log_test_state.h"
#include "support/log_capture.h"

namespace {

using kestrel_test::DrainLibraryLog;
using kestrel_test::ScopedLibraryLogThreshold;

TEST(LibraryLog, KeepsErrorsAndDropsTracingUnlessRaised) {
  DrainLibraryLog();
  Log(kLogLevelError, "%s - failed with %x", "Probe::Run", 0x80004005u);
  Log(kLogLevelVerbose, "verbose line");
  Log(kLogLevelTrivia, "trivia line");
  Log(kLogLevelError | (3u << 5), "numbered module");
  auto records = DrainLibraryLog();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].level, kLogLevelError);
  EXPECT_EQ(records[0].text, "Probe::Run - failed with 80004005");

  {
    ScopedLibraryLogThreshold tracing;
    Log(kLogLevelVerbose, "verbose %d", 6);
    Log(kLogLevelTrivia, "trivia %d", 7);
  }
  Log(kLogLevelTrivia, "after the scope");
  records = DrainLibraryLog();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].level, kLogLevelVerbose);
  EXPECT_EQ(records[0].text, "verbose 6");
  EXPECT_EQ(records[1].level, kLogLevelTrivia);
  EXPECT_EQ(records[1].text, "trivia 7");
}

// Something inside the call changes the last-error code (here the tag provider; in
// real life the thread-name lookup or the lock's creation may); Log must restore it.
TEST(LibraryLog, PreservesTheLastErrorCode) {
  LogState& state = LogLibraryState();
  LogTagProvider clobber{[](LogTagProvider*, std::size_t, char*) {
                           SetLastError(ERROR_ACCESS_DENIED);
                           return false;
                         },
                         nullptr};
  ASSERT_EQ(state.tagProvider, nullptr);
  state.tagProvider = &clobber;
  DrainLibraryLog();
  for (std::uint32_t levelWord : {kLogLevelError, kLogLevelTrivia, 0u, kLogLevelError | (9u << 5)}) {
    SCOPED_TRACE(levelWord);
    SetLastError(0x12345678);
    Log(levelWord, "%s - with the error code set", "LibraryLog::Test");
    EXPECT_EQ(GetLastError(), 0x12345678u);
  }
  SetLastError(ERROR_FILE_NOT_FOUND);
  Log(kLogLevelError, "%s", std::string(5000, 'L').c_str());  // through the spare buffer
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  state.tagProvider = nullptr;
  EXPECT_EQ(DrainLibraryLog().size(), 3u);  // error, audit, long error
}

TEST(LogCleaner, StopLeavesNoRecordWithTheBuiltInConfiguration) {
  DrainLibraryLog();
  {
    LogCleaner cleaner;
    cleaner.Stop();
    cleaner.Stop();  // harmless a second time
  }  // the destructor stops again
  EXPECT_TRUE(DrainLibraryLog().empty());

  // The same calls with tracing let through show the messages that were dropped.
  ScopedLibraryLogThreshold tracing;
  { LogCleaner cleaner; }
  auto records = DrainLibraryLog();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].text, "LogCleaner::Stop - stop log cleaner ....");
  EXPECT_EQ(records[1].text, "LogCleaner::Stop - log cleaner stopped.");
  EXPECT_EQ(records[0].level, kLogLevelTrivia);
}

// The console sink writes to standard error when it leads somewhere; level 0 never
// reaches it, and the built-in configuration prints nothing.
TEST(LogConsole, PrintsOnlyWantedNonAuditLevels) {
  char path[MAX_PATH];
  char directory[MAX_PATH];
  ASSERT_NE(GetTempPathA(MAX_PATH, directory), 0u);
  ASSERT_NE(GetTempFileNameA(directory, "klg", 0, path), 0u);
  const int file = _open(path, _O_WRONLY | _O_TRUNC | _O_BINARY);
  ASSERT_GE(file, 0);
  std::fflush(stderr);
  const int savedStderr = _dup(_fileno(stderr));
  ASSERT_GE(savedStderr, 0);
  ASSERT_EQ(_dup2(file, _fileno(stderr)), 0);

  kestrel_test::TestLogState log;
  log.state()->defaultThresholds.consoleThreshold = 4;
  log.Log(0, "audit line");
  log.Log(kLogLevelError, "console %s", "line");
  log.Log(5, "recorded only");
  Log(kLogLevelError, "library line");  // the library's state prints nothing

  std::fflush(stderr);
  _dup2(savedStderr, _fileno(stderr));
  _close(savedStderr);
  _close(file);
  std::string printed;
  if (FILE* in = std::fopen(path, "rb")) {
    char chunk[256];
    std::size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, in)) > 0) printed.append(chunk, got);
    std::fclose(in);
  }
  DeleteFileA(path);
  DrainLibraryLog();

  EXPECT_EQ(printed, "console line\n");
  EXPECT_EQ(log.Drain().size(), 3u);
}

}  // namespace
