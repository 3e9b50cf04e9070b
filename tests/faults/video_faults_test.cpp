// Every COM call of the video enumeration failing in turn, through a fake system device
// enumerator: the records kept, the exact log lines, every reference released, the
// calling thread's apartment as it was; then the same fault seen by the callers.
#include <windows.h>
#include <dshow.h>

#include <gtest/gtest.h>

#include <functional>

#include "devices/video_input_win.h"
#include "faults/fault_harness.h"
#include "interface/mmdr_library.h"
#include "prefs/user_prefs_util.h"
#include "support/fake_dshow.h"
#include "support/registry_scratch.h"

namespace kestrel_test {
namespace {

constexpr int kDevices = 3;

struct VideoFaultRow {
  const char* fault;
  std::function<void(std::vector<FakeVideoDeviceSpec>&)> breakDevices;
  std::function<void(FakeSystemDeviceEnum&, FakeClassFactory&)> breakEnumerator;
  std::vector<ExpectedRecord> records;
  std::vector<std::string> log;
  int nextCalls;  // Next stops at the first answer other than S_OK
};

ExpectedRecord Cam(int i, std::uint32_t index) {
  return {L"Fake Cam " + std::to_wstring(i), index, L"fake-path-" + std::to_wstring(i)};
}
ExpectedRecord CamWithoutPath(int i, std::uint32_t index) {
  return {L"Fake Cam " + std::to_wstring(i), index, L""};
}

const std::vector<VideoFaultRow>& Rows() {
  static const std::vector<VideoFaultRow> rows = {
      {"no fault", nullptr, nullptr, {Cam(0, 0), Cam(1, 1), Cam(2, 2)}, {}, kDevices + 1},
      {"system device enumerator cannot be created", nullptr,
       [](auto&, FakeClassFactory& factory) { factory.set_create_result(REGDB_E_CLASSNOTREG); },
       {}, {"VideoInputWin::EnumDevices - Failed to create SystemEnumerator instance"}, 0},
      {"class enumerator: empty category (S_FALSE)", nullptr,
       [](FakeSystemDeviceEnum& devEnum, auto&) { devEnum.classEnumResult = S_FALSE; }, {}, {}, 0},
      {"class enumerator: S_FALSE that still hands out an enumerator", nullptr,
       [](FakeSystemDeviceEnum& devEnum, auto&) {
         devEnum.classEnumResult = S_FALSE;
         devEnum.classEnumHandedOutAnyway = true;
       },
       {}, {}, 0},
      {"class enumerator: error", nullptr,
       [](FakeSystemDeviceEnum& devEnum, auto&) { devEnum.classEnumResult = E_OUTOFMEMORY; }, {},
       {}, 0},
      {"Next fails at the first device", nullptr,
       [](FakeSystemDeviceEnum& devEnum, auto&) { devEnum.nextFailsAt = 0; }, {}, {}, 1},
      {"Next fails mid-list", nullptr,
       [](FakeSystemDeviceEnum& devEnum, auto&) { devEnum.nextFailsAt = 1; }, {Cam(0, 0)}, {}, 2},
      {"Next fails mid-list and still hands out a moniker", nullptr,
       [](FakeSystemDeviceEnum& devEnum, auto&) {
         devEnum.nextFailsAt = 1;
         devEnum.nextFailureHandsOut = true;
       },
       {Cam(0, 0)}, {}, 2},
      {"BindToStorage fails: skipped, number not advanced",
       [](auto& devices) { devices[1].bind = FakeBind::Fails; }, nullptr, {Cam(0, 0), Cam(2, 1)},
       {}, kDevices + 1},
      {"BindToStorage fails and still hands out a bag",
       [](auto& devices) { devices[1].bind = FakeBind::FailsWithBag; }, nullptr,
       {Cam(0, 0), Cam(2, 1)}, {}, kDevices + 1},
      {"FriendlyName unreadable: skipped, number advanced",
       [](auto& devices) { devices[1].nameValue = FakeBagValue::ReadFails; }, nullptr,
       {Cam(0, 0), Cam(2, 2)}, {}, kDevices + 1},
      {"FriendlyName not text",
       [](auto& devices) { devices[1].nameValue = FakeBagValue::Interface; }, nullptr,
       {Cam(0, 0), Cam(2, 2)}, {}, kDevices + 1},
      {"FriendlyName unreadable on every device",
       [](auto& devices) {
         for (auto& device : devices) device.nameValue = FakeBagValue::ReadFails;
       },
       nullptr, {}, {}, kDevices + 1},
      {"DevicePath unreadable: listed with empty path and id",
       [](auto& devices) { devices[1].pathValue = FakeBagValue::ReadFails; }, nullptr,
       {Cam(0, 0), CamWithoutPath(1, 1), Cam(2, 2)}, {}, kDevices + 1},
      {"DevicePath not text",
       [](auto& devices) { devices[2].pathValue = FakeBagValue::Interface; }, nullptr,
       {Cam(0, 0), Cam(1, 1), CamWithoutPath(2, 2)}, {}, kDevices + 1},
  };
  return rows;
}

// The callers of the enumeration: the device-list call reports whatever the list holds;
// the preference lookup uses it too, since a video enumeration never reports failure.
void CheckConsumers(const VideoFaultRow& row) {
  {
    SCOPED_TRACE("Mmdr_EnumDevices");
    ScopedMmdrHandle handle;
    const std::vector<EnumeratedDevice> devices = EnumerateThroughDll(handle.get(), MMDR_DEVICE_VIDEO);
    ASSERT_EQ(devices.size(), row.records.size());
    for (std::size_t i = 0; i < devices.size(); ++i) {
      EXPECT_EQ(devices[i].name, Utf8(row.records[i].name));
      EXPECT_EQ(devices[i].id, Utf8(row.records[i].path));
    }
  }
  {
    SCOPED_TRACE("preferred webcam");
    // The last device the list can hold: found only if the list is used as it came.
    ScopedPreferredName preferredName(L"srcWCamId", L"srcWCamName",
                                      row.records.empty() ? L"Fake Cam 2" : row.records.back().name);
    DrainLibraryLog();
    const DeviceInfo preferred = UserPrefsUtil::PreferredWCamDeviceInfo();
    if (row.records.empty()) {
      EXPECT_TRUE(preferred.name.empty());
    } else {
      EXPECT_EQ(preferred.name, row.records.back().name);
      EXPECT_EQ(preferred.id, row.records.back().path);
    }
    ExpectLogLines(DrainLibraryLog(), row.log);
  }
}

void RunRow(const VideoFaultRow& row, ThreadApartment start) {
  RunOnThreadIn(start, [&] {
    std::vector<FakeVideoDeviceSpec> specs = MakeFakeVideoDevices(kDevices);
    if (row.breakDevices) row.breakDevices(specs);
    FakeSystemDeviceEnum devEnum(std::move(specs));
    FakeClassFactory factory(&devEnum);
    if (row.breakEnumerator) row.breakEnumerator(devEnum, factory);
    {
      ScopedFakeClass fake(CLSID_SystemDeviceEnum, &factory);
      ASSERT_TRUE(fake.ready());
      DrainLibraryLog();
      const ApartmentState before = CurrentApartment();

      DeviceInfo earlier;
      earlier.name = L"earlier";
      DeviceInfoList list{earlier};
      EXPECT_TRUE(VideoInputWin::EnumDevices(list));

      ExpectSameApartment(before, CurrentApartment());
      if (fake.redirected()) {
        EXPECT_TRUE(fake.CreatedInSta());
      }
      ExpectLogLines(DrainLibraryLog(), row.log);
      ASSERT_FALSE(list.empty());
      EXPECT_EQ(list.front().name, L"earlier");  // appended, never cleared
      list.erase(list.begin());
      ExpectRecords(list, row.records);
      for (const DeviceInfo& device : list) {
        EXPECT_EQ(device.kind, 2u);
        EXPECT_TRUE(device.guid.empty());
      }
      EXPECT_EQ(devEnum.nextCalls, row.nextCalls);
      if (devEnum.requestedFlags != 0xFFFFFFFF) {  // the class enumerator was asked for
        EXPECT_TRUE(IsEqualGUID(devEnum.requestedCategory, CLSID_VideoInputDeviceCategory));
        EXPECT_EQ(devEnum.requestedFlags, 0u);
      }
      if (start == ThreadApartment::Sta) CheckConsumers(row);
    }
    EXPECT_TRUE(devEnum.AllReleased()) << devEnum.Outstanding();
    EXPECT_EQ(factory.outstanding(), 0);
  });
}

class VideoFaultTest : public ::testing::TestWithParam<ThreadApartment> {};

TEST_P(VideoFaultTest, EachFaultKeepsItsRecordsLogsAsDocumentedAndReleasesEverything) {
  for (const VideoFaultRow& row : Rows()) {
    SCOPED_TRACE(row.fault);
    RunRow(row, GetParam());
  }
}

INSTANTIATE_TEST_SUITE_P(Threads, VideoFaultTest,
                         kAllThreadApartments, ThreadApartmentTestName);

}  // namespace
}  // namespace kestrel_test
