// LogWide and LogLastError, observed through the library's own log ring.
#include <gtest/gtest.h>

#include <string>

#include "core/text_utils.h"
#include "log/log.h"
#include "support/log_capture.h"

namespace {

using kestrel_test::CapturedLogRecord;
using kestrel_test::DrainLibraryLog;

class LogWideTest : public testing::Test {
 protected:
  void SetUp() override { DrainLibraryLog(); }

  // The one record the call under test left in the ring.
  static CapturedLogRecord OnlyRecord() {
    std::vector<CapturedLogRecord> records = DrainLibraryLog();
    EXPECT_EQ(records.size(), 1u);
    return records.empty() ? CapturedLogRecord{99, std::string()} : records.front();
  }
};

TEST_F(LogWideTest, UsesTheLegacyWideConventions) {
  LogWide(kLogLevelError, L"%s - wide '%s' narrow '%S' %d 0x%x", L"Fn::Name",
          L"Gr\u00FC\u00DFe \xD83C\xDFA5", "abc", -12, 0xBEEFu);
  const CapturedLogRecord record = OnlyRecord();
  EXPECT_EQ(record.level, kLogLevelError);
  EXPECT_EQ(record.text,
            "Fn::Name - wide 'Gr\xC3\xBC\xC3\x9F" "e \xF0\x9F\x8E\xA5' narrow 'abc' -12 0xbeef");
}

TEST_F(LogWideTest, PercentSignsInArgumentsAreNotInterpretedAgain) {
  const wchar_t* const hostile = L"Mic 100% %s%n%d%x%S%%";
  LogWide(kLogLevelError, L"%s - device '%s'", L"Fn", hostile);
  EXPECT_EQ(OnlyRecord().text, "Fn - device 'Mic 100% %s%n%d%x%S%%'");
}

TEST_F(LogWideTest, CutsLongMessagesAt4095CodeUnits) {
  const struct {
    std::size_t produced;
    std::size_t logged;
  } cases[] = {{4094, 4094}, {4095, 4095}, {4096, 4095}, {5000, 4095}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.produced);
    // Distinct last units show exactly where the cut falls.
    std::wstring argument;
    for (std::size_t i = 0; i < c.produced; ++i) argument += static_cast<wchar_t>(L'a' + i % 26);
    LogWide(kLogLevelError, L"%s", argument.c_str());
    const CapturedLogRecord record = OnlyRecord();
    EXPECT_EQ(record.text, ConvertWideToUtf8(argument.substr(0, c.logged).c_str()));
  }
}

TEST_F(LogWideTest, PassesTheLevelOnAndKeepsTheLastErrorCode) {
  kestrel_test::ScopedLibraryLogThreshold tracing(7);
  SetLastError(ERROR_ACCESS_DENIED);
  LogWide(kLogLevelVerbose, L"%s - verbose", L"Fn");
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  const CapturedLogRecord record = OnlyRecord();
  EXPECT_EQ(record.level, kLogLevelVerbose);
  EXPECT_EQ(record.text, "Fn - verbose");
}

TEST_F(LogWideTest, TracingLevelsAreDroppedByTheBuiltInConfiguration) {
  LogWide(kLogLevelTrivia, L"%s - dropped", L"Fn");
  EXPECT_TRUE(DrainLibraryLog().empty());
}

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}
bool EndsWith(const std::string& text, const std::string& suffix) {
  return text.size() >= suffix.size() &&
         text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

TEST_F(LogWideTest, LastErrorLineCarriesTheSystemTextAndTheCode) {
  SetLastError(ERROR_FILE_NOT_FOUND);
  LogLastError(L"DSoundLib::LoadDSoundLib", L"LoadLibraryW failed");
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  const CapturedLogRecord record = OnlyRecord();
  EXPECT_EQ(record.level, kLogLevelError);
  const std::string prefix = "DSoundLib::LoadDSoundLib - LoadLibraryW failed: ";
  EXPECT_TRUE(StartsWith(record.text, prefix)) << record.text;
  EXPECT_TRUE(EndsWith(record.text, " (0x2)")) << record.text;
  EXPECT_GT(record.text.size(), prefix.size() + 6) << "no system text: " << record.text;
}

TEST_F(LogWideTest, LastErrorWithoutSystemTextLogsAnEmptyText) {
  // An application-defined code (bit 29) has no system text.
  SetLastError(0x20001234);
  LogLastError(L"Fn", L"step");
  EXPECT_EQ(OnlyRecord().text, "Fn - step:  (0x20001234)");
}

TEST_F(LogWideTest, LastErrorTextWithInsertsIsLoggedUnfilled) {
  // This system text holds a "%1" insert for which no argument exists.
  SetLastError(ERROR_BAD_EXE_FORMAT);
  LogLastError(L"Fn", L"load");
  const CapturedLogRecord record = OnlyRecord();
  EXPECT_NE(record.text.find("%1"), std::string::npos) << record.text;
  EXPECT_TRUE(EndsWith(record.text, " (0xc1)")) << record.text;
}

}  // namespace
