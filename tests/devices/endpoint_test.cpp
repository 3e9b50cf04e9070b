// Endpoint enumeration against Wine's Core Audio (the fixture microphones), and with a
// fake enumerator registered in the test's apartment for the faults.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "core/text_utils.h"
#include "devices/device_test_util.h"
#include "devices/platform_ids.h"
#include "devices/win_device_util.h"
#include "log/log.h"
#include "support/fake_mmdevice.h"
#include "support/log_capture.h"

namespace kestrel_test {
namespace {

constexpr char kEnum[] = "WinDeviceUtil::EnumCaptureDevices - ";

TEST(WinDeviceUtilTest, ListsTheFixtureMicrophonesAndLogsEachOnce) {
  ScopedLibraryLogThreshold tracing(7);
  DrainLibraryLog();
  DeviceInfo stale;
  stale.name = L"stale";
  DeviceInfoList list{stale, stale};

  ASSERT_TRUE(WinDeviceUtil::EnumCaptureDevices(list));
  EXPECT_EQ(SortedNamesOf(list), FixtureMicrophoneNames());
  ExpectAudioRecordInvariants(list);
  for (std::size_t i = 0; i < list.size(); ++i) {
    EXPECT_EQ(list[i].index, i);
    EXPECT_FALSE(list[i].path.empty());
    // Wine's endpoint ids carry upper-case hexadecimal; only guid is lower-cased.
    EXPECT_NE(list[i].path, ConvertToLower(list[i].path));
  }

  std::vector<std::string> deviceLines;
  for (const std::string& line : LogLinesAtLevel(DrainLibraryLog(), kLogLevelVerbose)) {
    if (line.find("Enum Audio Capture Device") != std::string::npos) deviceLines.push_back(line);
  }
  ASSERT_EQ(deviceLines.size(), list.size());
  for (std::size_t i = 0; i < list.size(); ++i) {
    const std::string expected = std::string(kEnum) + "Enum Audio Capture Device: \"" +
                                 Narrow(list[i].name) + "\" guid \"" + Narrow(list[i].guid) +
                                 "\" devId \"" + Narrow(list[i].id) + "\"";
    EXPECT_NE(deviceLines[i].find(expected), std::string::npos) << deviceLines[i];
  }
}

TEST(WinDeviceUtilTest, NullEndpointIsRefusedWithAMessage) {
  DrainLibraryLog();
  std::wstring value = L"unchanged";
  EXPECT_FALSE(WinDeviceUtil::RetrievePropertyValue(nullptr, PROPERTYKEY{}, value));
  EXPECT_FALSE(WinDeviceUtil::GetDeviceID(nullptr, value));
  EXPECT_EQ(value, L"unchanged");
  const auto records = DrainLibraryLog();
  EXPECT_TRUE(HasLogLine(records, kLogLevelError,
                         "WinDeviceUtil::RetrievePropertyValue - pointer of device is NULL."));
  EXPECT_TRUE(HasLogLine(records, kLogLevelError,
                         "WinDeviceUtil::GetDeviceID - failed to get device ID."));
}

// The endpoint enumeration on threads in each apartment state: it runs in an STA of its
// own or the thread's, refuses the MTA, and leaves the thread as it found it.
TEST(WinDeviceUtilTest, ApartmentOfTheCallingThread) {
  for (ThreadApartment start : {ThreadApartment::None, ThreadApartment::Sta, ThreadApartment::Mta}) {
    SCOPED_TRACE(ToString(start));
    DrainLibraryLog();
    RunOnThreadIn(start, [start] {
      DeviceInfoList list;
      const bool listed = WinDeviceUtil::EnumCaptureDevices(list);
      const ApartmentState after = CurrentApartment();
      if (start == ThreadApartment::Mta) {
        EXPECT_FALSE(listed);
        EXPECT_TRUE(list.empty());
        EXPECT_TRUE(after.IsMta());
      } else {
        EXPECT_TRUE(listed);
        EXPECT_EQ(SortedNamesOf(list), FixtureMicrophoneNames());
        EXPECT_EQ(after.IsSta(), start == ThreadApartment::Sta);
        EXPECT_EQ(after.InCom(), start == ThreadApartment::Sta);
      }
    });
    const bool refused = HasLogLine(DrainLibraryLog(), kLogLevelError,
                                    std::string(kEnum) + "failed to call CCoInitialize, error: 80010106.");
    EXPECT_EQ(refused, start == ThreadApartment::Mta);
  }
}

class WinDeviceUtilFakeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    DrainLibraryLog();
  }
  void TearDown() override { CoUninitialize(); }
};

// Each fault in turn is swept in tests/faults; here, what every enumeration asks for and
// that device lines follow only a complete enumeration.
TEST_F(WinDeviceUtilFakeTest, AsksForActiveCaptureEndpointsAndLogsDevicesOnlyWhenComplete) {
  for (const bool guidMissingAtTwo : {false, true}) {
    SCOPED_TRACE(guidMissingAtTwo ? "guid missing at position 2 of 4" : "no fault");
    std::vector<FakeEndpointSpec> endpoints = MakeFakeEndpoints(4);
    if (guidMissingAtTwo) endpoints[2].guidKind = FakeEndpointSpec::Guid::Missing;
    ScopedFakeMMDeviceEnumerator fake(std::move(endpoints));
    ASSERT_EQ(fake.registration(), S_OK);
    ScopedLibraryLogThreshold tracing(7);
    DeviceInfoList list;

    EXPECT_EQ(WinDeviceUtil::EnumCaptureDevices(list), !guidMissingAtTwo);
    EXPECT_EQ(list.size(), guidMissingAtTwo ? 2u : 4u);
    EXPECT_EQ(fake.enumerator().requestedFlow, eCapture);
    EXPECT_EQ(fake.enumerator().requestedStateMask, static_cast<DWORD>(DEVICE_STATE_ACTIVE));
    const auto records = DrainLibraryLog();
    const std::size_t deviceLines = static_cast<std::size_t>(std::count_if(
        records.begin(), records.end(), [](const CapturedLogRecord& record) {
          return record.text.find("Enum Audio Capture Device") != std::string::npos;
        }));
    EXPECT_EQ(deviceLines, guidMissingAtTwo ? 0u : list.size());
    EXPECT_TRUE(fake.enumerator().AllReleased());
  }
}

TEST_F(WinDeviceUtilFakeTest, RecordsCarryPositionNameLowerCaseGuidAndIdUnchanged) {
  std::vector<FakeEndpointSpec> endpoints = MakeFakeEndpoints(3);
  endpoints[1].endpointId.reset();
  ScopedFakeMMDeviceEnumerator fake(std::move(endpoints));
  ASSERT_EQ(fake.registration(), S_OK);
  DeviceInfoList list;
  ASSERT_TRUE(WinDeviceUtil::EnumCaptureDevices(list));
  ASSERT_EQ(list.size(), 3u);
  ExpectAudioRecordInvariants(list);
  EXPECT_EQ(list[0].guid, L"{0a1b2c3d-4e5f-6071-8293-a4b5c6d7e8f0}");
  EXPECT_EQ(list[2].guid, L"{0a1b2c3d-4e5f-6071-8293-a4b5c6d7e8f2}");
  EXPECT_EQ(list[0].path, L"fake-endpoint-0");
  EXPECT_TRUE(list[1].path.empty());
  EXPECT_EQ(list[2].path, L"fake-endpoint-2");
  for (std::uint32_t i = 0; i < 3; ++i) EXPECT_EQ(list[i].index, i);
  EXPECT_TRUE(fake.enumerator().AllReleased());
}

TEST_F(WinDeviceUtilFakeTest, EnumeratorThatCannotBeCreatedReportsItsCode) {
  FakeClassFactory factory;
  factory.set_create_result(REGDB_E_CLASSNOTREG);
  {
    ScopedClassRegistration registration(
        kMMDeviceEnumeratorClsid, &factory);
    ASSERT_EQ(registration.result(), S_OK);
    DeviceInfoList list(1);
    EXPECT_FALSE(WinDeviceUtil::EnumCaptureDevices(list));
    EXPECT_TRUE(list.empty());
    EXPECT_TRUE(HasLogLine(DrainLibraryLog(), kLogLevelError,
                           std::string(kEnum) + "failed to call CoCreateInstance, error: 80040154."));
  }
  EXPECT_EQ(factory.outstanding(), 0);
}

}  // namespace
}  // namespace kestrel_test
