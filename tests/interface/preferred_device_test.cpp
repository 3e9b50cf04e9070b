// The preferred-device lookup inside the library: the record it hands back and the
// lines it logs for each decision.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "devices/video_input_win.h"
#include "log/log.h"
#include "prefs/user_prefs_util.h"
#include "support/log_capture.h"
#include "support/registry_scratch.h"
#include "support/webcam_fixture.h"

namespace kestrel_test {
namespace {

std::vector<std::string> LinesAtLevel(const std::vector<CapturedLogRecord>& records,
                                      std::uint32_t level) {
  std::vector<std::string> lines;
  for (const CapturedLogRecord& record : records) {
    if (record.level == level) lines.push_back(record.text);
  }
  return lines;
}

bool HasLine(const std::vector<std::string>& lines, const std::string& wanted) {
  for (const std::string& line : lines) {
    if (line.find(wanted) != std::string::npos) return true;
  }
  return false;
}

class PreferredDevice : public ::testing::Test {
 protected:
  PreferredDevice()
      : userId_(HKEY_CURRENT_USER, L"srcWCamId"),
        userName_(HKEY_CURRENT_USER, L"srcWCamName"),
        machineId_(HKEY_LOCAL_MACHINE, L"srcWCamId"),
        machineName_(HKEY_LOCAL_MACHINE, L"srcWCamName") {
    userId_.Remove();
    userName_.Remove();
    machineId_.Remove();
    machineName_.Remove();
    DrainLibraryLog();
  }

  ScopedLibraryLogThreshold tracing_{7};
  ScopedRegistryValue userId_, userName_, machineId_, machineName_;
  WebcamFixture webcams_;
};

TEST_F(PreferredDevice, NothingStoredLogsOneTriviaLineAndGivesTheEmptyRecord) {
  const DeviceInfo picked = UserPrefsUtil::PreferredWCamDeviceInfo();
  EXPECT_TRUE(picked.id.empty() && picked.name.empty());
  const std::vector<CapturedLogRecord> records = DrainLibraryLog();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].level, kLogLevelTrivia);
  EXPECT_NE(records[0].text.find(
                "UserPrefsUtil::PreferredWCamDeviceInfo - Config preferred device is NULL."),
            std::string::npos)
      << records[0].text;
}

TEST_F(PreferredDevice, EmptyListLogsListSizeZero) {
  DeviceInfoList present;
  VideoInputWin::EnumDevices(present);
  ASSERT_TRUE(present.empty()) << "this test needs a prefix without webcams";
  userName_.SetString(L"Nobody");
  DrainLibraryLog();
  EXPECT_TRUE(UserPrefsUtil::PreferredWCamDeviceInfo().name.empty());
  EXPECT_TRUE(HasLine(LinesAtLevel(DrainLibraryLog(), kLogLevelTrivia),
                      "UserPrefsUtil::PreferredWCamDeviceInfo - List size is 0."));
}

TEST_F(PreferredDevice, PickedDeviceIsAFullCopyAndEachRuleLogsItsDecision) {
  const std::wstring t = webcams_.token();
  ASSERT_FALSE(webcams_.Add(WebcamSpec::Complete(L"Wide " + t, L"x-" + t + L"-y")).empty());
  ASSERT_FALSE(webcams_.Add(WebcamSpec::Complete(L"Exact " + t, t)).empty());
  const std::string F = "UserPrefsUtil::PreferredWCamDeviceInfo";
  const std::string tu(t.begin(), t.end());  // the token is ASCII

  userId_.SetString(t);
  DeviceInfo picked = UserPrefsUtil::PreferredWCamDeviceInfo();
  EXPECT_EQ(picked.id, t);
  EXPECT_EQ(picked.path, t);
  EXPECT_EQ(picked.name, L"Exact " + t);
  EXPECT_EQ(picked.kind, 2u);
  EXPECT_EQ(picked.number, picked.index);
  EXPECT_TRUE(HasLine(LinesAtLevel(DrainLibraryLog(), kLogLevelTrivia),
                      F + " - Find matched preferred id: '" + tu + "' in device list."));

  userId_.SetString(L"-" + t + L"-");
  EXPECT_EQ(UserPrefsUtil::PreferredWCamId(), L"x-" + t + L"-y");
  EXPECT_TRUE(HasLine(LinesAtLevel(DrainLibraryLog(), kLogLevelTrivia),
                      F + " - Find preferred id: 'x-" + tu + "-y' in device list."));

  userId_.Remove();
  userName_.SetString(L"Wide " + t);
  EXPECT_EQ(UserPrefsUtil::PreferredWCamName(), L"Wide " + t);
  std::vector<std::string> lines = LinesAtLevel(DrainLibraryLog(), kLogLevelTrivia);
  EXPECT_TRUE(HasLine(lines, F + " - Find preferred name: 'Wide " + tu + "' in device list."));
  EXPECT_FALSE(HasLine(lines, "Cannot find preferred id")) << "no id was stored";

  userId_.SetString(L"missing-" + t);
  userName_.SetString(L"Missing " + t);
  picked = UserPrefsUtil::PreferredWCamDeviceInfo();
  EXPECT_TRUE(picked.id.empty() && picked.name.empty() && picked.index == 0 && picked.kind == 0);
  lines = LinesAtLevel(DrainLibraryLog(), kLogLevelTrivia);
  EXPECT_TRUE(HasLine(lines, F + " - Cannot find preferred id: 'missing-" + tu + "' in device list."));
  EXPECT_TRUE(HasLine(lines, F + " - Cannot find preferred name: 'Missing " + tu + "' in device list."));
}

}  // namespace
}  // namespace kestrel_test
