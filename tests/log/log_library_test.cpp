// The library's own static log state: what its built-in configuration keeps.
#include <gtest/gtest.h>

#include <windows.h>

#include "log/log.h"
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

}  // namespace
