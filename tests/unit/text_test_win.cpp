// The wide-text log entries.
#include <gtest/gtest.h>

#include <string>

#include "core/text_utils.h"
#include "log/log.h"
#include "support/log_capture.h"

namespace kestrel_test {
namespace {

TEST(LogWide, FormatsByC99RulesAndLogsTheResultVerbatim) {
  DrainLibraryLog();
  // A step of the record path that changes the last error, as a writer's file call would.
  LogTagProvider clobber = {[](LogTagProvider*, std::size_t, char*) {
                              SetLastError(5);
                              return false;
                            },
                            nullptr};
  LogLibraryState().tagProvider = &clobber;
  SetLastError(1234);
  LOG_WIDE(2, "%ls|%s|%d|%x|%zu", L"wide \u00E9", "narrow", -5, 0xBEEFu, std::size_t{7});
  LOG_WIDE(2, "name '%ls'", L"100%n %s %d");  // a device name is never a format
  LOG_WIDE(2, "%ls", std::wstring(5000, L'w').c_str());
  EXPECT_EQ(GetLastError(), 1234u);
  SetLastError(193);  // its system text holds an insert, "%1"
  LogLastError("Fn", L"step");
  EXPECT_EQ(GetLastError(), 193u);
  Log(2, "%s", "plain");
  EXPECT_EQ(GetLastError(), 193u);
  LogLibraryState().tagProvider = nullptr;

  const std::vector<CapturedRecord> records = DrainLibraryLog();
  ASSERT_EQ(records.size(), 5u);
  EXPECT_EQ(records[0].text, "wide \xC3\xA9|narrow|-5|beef|7");
  EXPECT_EQ(records[1].text, "name '100%n %s %d'");
  EXPECT_EQ(records[2].text, std::string(4095, 'w'));
  EXPECT_EQ(records[3].text.rfind("Fn - step: ", 0), 0u) << records[3].text;
  EXPECT_NE(records[3].text.find("%1"), std::string::npos) << records[3].text;
  EXPECT_NE(records[3].text.find("(0xc1)"), std::string::npos) << records[3].text;
}

}  // namespace
}  // namespace kestrel_test
