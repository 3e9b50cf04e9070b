// Video enumeration against Wine's real DirectShow system device enumerator, with
// webcams the tests register, plus fakes for what the real one cannot be made to do.
#include <windows.h>
#include <dshow.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>

#include "devices/device_test_util.h"
#include "devices/video_input_win.h"
#include "log/log.h"
#include "support/fake_com.h"
#include "support/log_capture.h"
#include "support/webcam_fixture.h"

namespace kestrel_test {
namespace {

// The records of one fixture batch, found by the batch token in their names.
DeviceInfoList BatchRecords(const DeviceInfoList& list, const WebcamFixture& fixture) {
  DeviceInfoList batch;
  for (const DeviceInfo& device : list) {
    if (device.name.find(fixture.token()) != std::wstring::npos) batch.push_back(device);
  }
  return batch;
}

TEST(VideoInputWinTest, ListsFixtureWebcamsWithTheirPropertiesInOrder) {
  WebcamFixture webcams;
  const std::wstring token = webcams.token();
  const std::wstring accented = L"Caméra Zoë Ωμέγα 日本 " + token;
  std::wstring longName = L"Long " + token + L" ";
  longName.resize(300, L'x');
  WebcamSpec noName;
  noName.devicePath = L"\\\\?\\noname#" + token;
  noName.clsid = L"{E436EBB6-524F-11CE-9F53-0020AF0BA770}";
  WebcamSpec noPath;
  noPath.friendlyName = L"No path " + token;
  noPath.clsid = L"{E436EBB6-524F-11CE-9F53-0020AF0BA770}";

  ASSERT_FALSE(webcams.Add(WebcamSpec::Complete(accented, L"\\\\?\\usb#cam0#" + token)).empty());
  ASSERT_FALSE(webcams.Add(noName).empty());
  ASSERT_FALSE(webcams.Add(WebcamSpec::Complete(longName, L"\\\\?\\usb#cam2#" + token)).empty());
  ASSERT_FALSE(webcams.Add(WebcamSpec::Complete(L"Twin " + token, L"twin-a-" + token)).empty());
  ASSERT_FALSE(webcams.Add(WebcamSpec::Complete(L"Twin " + token, L"twin-b-" + token)).empty());
  ASSERT_FALSE(webcams.Add(noPath).empty());

  // The enumerator appends to what the list holds.
  DeviceInfo earlier;
  earlier.name = L"earlier";
  DeviceInfoList list{earlier};
  EXPECT_TRUE(VideoInputWin::EnumDevices(list));
  ASSERT_FALSE(list.empty());
  EXPECT_EQ(list[0].name, L"earlier");
  list.erase(list.begin());
  const DeviceInfoList batch = BatchRecords(list, webcams);
  ASSERT_EQ(batch.size(), 5u);

  // The unnamed device keeps its number: the records around it are 2 apart.
  const std::uint32_t base = batch[0].index;
  const std::uint32_t expectedOffsets[] = {0, 2, 3, 4, 5};
  const std::wstring expectedNames[] = {accented, longName, L"Twin " + token, L"Twin " + token,
                                        L"No path " + token};
  const std::wstring expectedPaths[] = {L"\\\\?\\usb#cam0#" + token, L"\\\\?\\usb#cam2#" + token,
                                        L"twin-a-" + token, L"twin-b-" + token, L""};
  for (std::size_t i = 0; i < batch.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(batch[i].index, base + expectedOffsets[i]);
    EXPECT_EQ(batch[i].name, expectedNames[i]);
    EXPECT_EQ(batch[i].path, expectedPaths[i]);
  }
  EXPECT_EQ(batch[1].name.size(), 300u);

  // Every record of the whole list, ours or not.
  for (std::size_t i = 0; i < list.size(); ++i) {
    SCOPED_TRACE(Narrow(list[i].name));
    EXPECT_EQ(list[i].kind, 2u);
    EXPECT_TRUE(list[i].guid.empty());
    EXPECT_EQ(list[i].number, list[i].index);
    EXPECT_EQ(list[i].id, list[i].path);
    if (i > 0) {
      EXPECT_GT(list[i].index, list[i - 1].index);
    }
  }
}

// A value of another type than text counts as unreadable: no name skips the device
// (its number still counts), no path leaves path and id empty.
TEST(VideoInputWinTest, NonStringPropertiesCountAsUnreadable) {
  WebcamFixture webcams;
  const std::wstring token = webcams.token();
  ASSERT_FALSE(webcams.Add(WebcamSpec::Complete(L"First " + token, L"first")).empty());
  const std::wstring numericName = webcams.Add(WebcamSpec::Complete(L"replaced", L"numeric-name"));
  const std::wstring numericPath = webcams.Add(WebcamSpec::Complete(L"Third " + token, L"replaced"));
  ASSERT_FALSE(numericName.empty());
  ASSERT_FALSE(numericPath.empty());
  const DWORD number = 0x12345678;
  for (const auto& [keyName, valueName] :
       {std::pair{numericName, L"FriendlyName"}, std::pair{numericPath, L"DevicePath"}}) {
    const std::wstring path = std::wstring(kVideoInputInstancePath) + L"\\" + keyName;
    ASSERT_EQ(RegSetKeyValueW(HKEY_CLASSES_ROOT, path.c_str(), valueName, REG_DWORD, &number,
                              sizeof(number)),
              ERROR_SUCCESS);
  }

  DeviceInfoList list;
  EXPECT_TRUE(VideoInputWin::EnumDevices(list));
  const DeviceInfoList batch = BatchRecords(list, webcams);
  ASSERT_EQ(batch.size(), 2u);
  EXPECT_EQ(batch[0].path, L"first");
  EXPECT_EQ(batch[1].name, L"Third " + token);
  EXPECT_EQ(batch[1].index, batch[0].index + 2);
  EXPECT_TRUE(batch[1].path.empty());
  EXPECT_TRUE(batch[1].id.empty());
}

// ICreateDevEnum that answers with a fixed result and no class enumerator.
class FakeCreateDevEnum : public FakeComObject<ICreateDevEnum> {
 public:
  FakeCreateDevEnum() : FakeComObject<ICreateDevEnum>(IID_ICreateDevEnum) {}
  HRESULT STDMETHODCALLTYPE CreateClassEnumerator(REFCLSID, IEnumMoniker** monikers,
                                                  DWORD) override {
    *monikers = nullptr;
    ++calls;
    return result;
  }
  HRESULT result = S_FALSE;
  int calls = 0;
};

class VideoInputWinFakeTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))); }
  void TearDown() override { CoUninitialize(); }
};

TEST_F(VideoInputWinFakeTest, SystemEnumeratorThatCannotBeCreatedLogsAndListsNothing) {
  FakeClassFactory factory;
  factory.set_create_result(REGDB_E_CLASSNOTREG);
  {
    ScopedClassRegistration registration(CLSID_SystemDeviceEnum, &factory);
    ASSERT_EQ(registration.result(), S_OK);
    DrainLibraryLog();
    DeviceInfoList list;
    EXPECT_TRUE(VideoInputWin::EnumDevices(list));
    EXPECT_TRUE(list.empty());
    EXPECT_EQ(factory.creations(), 1);
    const auto records = DrainLibraryLog();
    EXPECT_EQ(LogLinesAtLevel(records, kLogLevelError).size(), 1u);
    EXPECT_TRUE(HasLogLine(records, kLogLevelError,
                           "VideoInputWin::EnumDevices - Failed to create SystemEnumerator instance"));
  }
  EXPECT_EQ(factory.outstanding(), 0);
}

TEST_F(VideoInputWinFakeTest, CategoryWithoutClassEnumeratorListsNothingAndLogsNothing) {
  for (HRESULT result : {S_FALSE, E_FAIL}) {
    SCOPED_TRACE(result);
    FakeCreateDevEnum devEnum;
    devEnum.result = result;
    FakeClassFactory factory(&devEnum);
    {
      ScopedClassRegistration registration(CLSID_SystemDeviceEnum, &factory);
      ASSERT_EQ(registration.result(), S_OK);
      DrainLibraryLog();
      DeviceInfo earlier;
      earlier.name = L"earlier";
      DeviceInfoList list{earlier};
      EXPECT_TRUE(VideoInputWin::EnumDevices(list));
      ASSERT_EQ(list.size(), 1u);
      EXPECT_EQ(list[0].name, L"earlier");
      EXPECT_EQ(devEnum.calls, 1);
      EXPECT_TRUE(DrainLibraryLog().empty());
    }
    EXPECT_EQ(devEnum.outstanding(), 0);
    EXPECT_EQ(factory.outstanding(), 0);
  }
}

}  // namespace
}  // namespace kestrel_test
