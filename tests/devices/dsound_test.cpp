// The DirectSound enumerator with a fake dsound.dll behind the loader seam: load
// faults, description handling and record building. A stand-in module is really loaded
// and freed, so each test also checks that nothing keeps it.
#include <gtest/gtest.h>

#include <iterator>

#include "devices/device_test_util.h"
#include "devices/audio_capture_win.h"
#include "devices/dsound_lib.h"
#include "log/log.h"
#include "support/fake_dsound.h"
#include "support/log_capture.h"
#include "support/registry_scratch.h"

namespace kestrel_test {
namespace {

bool DSoundModuleLoaded() { return FakeDirectSound::StandInLoaded(); }

GUID MakeGuid(unsigned long data1, unsigned char last) {
  return {data1, 0xABCD, 0xEF01, {0x8F, 0xE2, 0x00, 0xC0, 0x4F, 0xC2, 0x8A, last}};
}

class DSoundFakeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(DSoundModuleLoaded()) << "something else loaded the stand-in module";
    ASSERT_EQ(DSoundLib::GetInstance(), nullptr);
    DrainLibraryLog();
  }
  void TearDown() override {
    EXPECT_EQ(DSoundLib::ReferenceCount(), 0);
    EXPECT_EQ(DSoundLib::GetInstance(), nullptr);
    EXPECT_FALSE(DSoundModuleLoaded());
  }
};

TEST(ConvertGuidToStringTest, FormatsInRegistryOrderWithLowerCaseDigits) {
  const struct {
    GUID guid;
    const wchar_t* text;
  } cases[] = {
      {{0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}}, L"{00000000-0000-0000-0000-000000000000}"},
      {{0xBCDE0395, 0xE52F, 0x467C, {0x8E, 0x3D, 0xC4, 0x57, 0x92, 0x91, 0x69, 0x2E}},
       L"{bcde0395-e52f-467c-8e3d-c4579291692e}"},
      {{0x0000000A, 0x000B, 0x000C, {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08}},
       L"{0000000a-000b-000c-0102-030405060708}"},
      {{0xFFFFFFFF, 0xFFFF, 0xFFFF, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
       L"{ffffffff-ffff-ffff-ffff-ffffffffffff}"},
  };
  for (const auto& test : cases) {
    EXPECT_EQ(ConvertGuidToString(test.guid), test.text);
  }
}

struct LoadFaultCase {
  FakeDsoundFault fault;
  const char* expectedMessage;
};

TEST_F(DSoundFakeTest, LoadFaultsLeaveNoInstanceNoModuleAndNoReference) {
  const LoadFaultCase cases[] = {
      {FakeDsoundFault::LoadLibraryFails,
       "DSoundLib::LoadDSoundLib - LoadLibrary for loading dsound.dll failed: "},
      {FakeDsoundFault::NoCaptureEnumerate,
       "DSoundLib::LoadDSoundLib - GetProcAddress for DirectSoundCaptureEnumerateW failed: "},
      {FakeDsoundFault::NoGetClassObject,
       "DSoundLib::LoadDSoundLib - GetProcAddress for DllGetClassObject failed: "},
      {FakeDsoundFault::ClassObjectRefused,
       "DSoundLib::LoadDSoundLib - Failed to create a Class Factory Object"},
      {FakeDsoundFault::ClassObjectNotOk,
       "DSoundLib::LoadDSoundLib - Failed to create a Class Factory Object"},
      {FakeDsoundFault::PropertyObjectRefused,
       "DSoundLib::LoadDSoundLib - Failed to create DirectSoundPrivate Object"},
  };
  for (const LoadFaultCase& test : cases) {
    SCOPED_TRACE(test.expectedMessage);
    SCOPED_TRACE(static_cast<int>(test.fault));
    FakeDirectSound fake({}, test.fault);
    EXPECT_FALSE(DSoundLib::InitInstance());
    EXPECT_EQ(DSoundLib::GetInstance(), nullptr);
    EXPECT_EQ(DSoundLib::ReferenceCount(), 0);
    EXPECT_FALSE(DSoundModuleLoaded());
    EXPECT_TRUE(fake.AllReleased());
    const auto errors = LogLinesAtLevel(DrainLibraryLog(), kLogLevelError);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_NE(errors[0].find(test.expectedMessage), std::string::npos) << errors[0];

    // Nothing is remembered: the next reference tries again, and an enumeration
    // without an instance says so.
    EXPECT_FALSE(DSoundLib::InitInstance());
    EXPECT_EQ(fake.loads(), 2);
    DeviceInfoList list(2);
    EXPECT_FALSE(AudioCaptureWinDsound::EnumCaptureDevices(list));
    EXPECT_TRUE(list.empty());
    EXPECT_TRUE(HasLogLine(DrainLibraryLog(), kLogLevelError,
                           "AudioCaptureWinDsound::EnumCaptureDevices - Got a NULL DSoundLib instance"));
  }
}

TEST_F(DSoundFakeTest, FailedLoadReportsTheSystemErrorCode) {
  FakeDirectSound fake({}, FakeDsoundFault::LoadLibraryFails);
  EXPECT_FALSE(DSoundLib::InitInstance());
  const auto errors = LogLinesAtLevel(DrainLibraryLog(), kLogLevelError);
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_NE(errors[0].find("(0x7e)"), std::string::npos) << errors[0];  // ERROR_MOD_NOT_FOUND
}

TEST_F(DSoundFakeTest, EnumerationWithoutALoadedInstanceFails) {
  DeviceInfoList list;
  EXPECT_FALSE(DSoundLib::EnumCaptureDevices(nullptr, list));
  EXPECT_TRUE(HasLogLine(DrainLibraryLog(), kLogLevelError,
                         "DSoundLib::EnumCaptureDevices - Failed to initialize DSound lib"));
}

TEST_F(DSoundFakeTest, RecordsFromDescriptions) {
  const std::wstring exactly35 = L"12345678901234567890123456789012345";
  const std::wstring longer = exactly35 + L"tail";
  std::vector<FakeDsoundDevice> devices(9);
  devices[0].guid.reset();  // the default-device entry
  devices[0].description = L"Primary Sound Capture Driver";
  devices[1].guid = MakeGuid(0x11111111, 0xA1);
  devices[1].description = L"With interface";
  devices[1].interfaceText = L"\\\\?\\SWD#MMDEVAPI#{0.0.1.00000000}";
  devices[1].waveDeviceId = 4;
  devices[2].guid = MakeGuid(0x22222222, 0xB2);
  devices[2].description = exactly35;
  devices[2].waveDeviceId = 7;
  devices[3].guid = MakeGuid(0x33333333, 0xC3);
  devices[3].description = L"Short";
  devices[3].waveDeviceId = 3;
  devices[4].guid = MakeGuid(0x44444444, 0xD4);
  devices[4].description = longer;
  devices[4].waveDeviceId = 12;
  devices[5].guid = MakeGuid(0x55555555, 0xE5);
  devices[5].describeFails = true;
  devices[6].guid = MakeGuid(0x66666666, 0xF6);
  devices[6].nullDescription = true;
  devices[7].guid = MakeGuid(0x77777777, 0x07);
  devices[7].throwOnDescribe = true;
  devices[8].guid = MakeGuid(0x88888888, 0x08);
  devices[8].reportedLength = 8;  // shorter than the fixed block: cannot be described
  FakeDirectSound fake(devices);

  ASSERT_TRUE(DSoundLib::InitInstance());
  DeviceInfo stale;
  stale.name = L"stale";
  DeviceInfoList list{stale};
  {
    ScopedLibraryLogThreshold tracing(7);
    EXPECT_TRUE(AudioCaptureWinDsound::EnumCaptureDevices(list));
    const auto guidLines = LogLinesAtLevel(DrainLibraryLog(), kLogLevelVerbose);
    ASSERT_EQ(guidLines.size(), 4u);
    EXPECT_NE(guidLines[0].find("ConvertGuidToString - guid: {11111111-abcd-ef01-8fe2-00c04fc28aa1}"),
              std::string::npos)
        << guidLines[0];
  }
  DSoundLib::UninitInstance();

  const struct {
    const wchar_t* name;
    const wchar_t* guid;
    std::uint32_t index;
    std::wstring path;
  } expected[] = {
      {L"With interface", L"{11111111-abcd-ef01-8fe2-00c04fc28aa1}", 4,
       L"\\\\?\\SWD#MMDEVAPI#{0.0.1.00000000}"},
      {exactly35.c_str(), L"{22222222-abcd-ef01-8fe2-00c04fc28ab2}", 7, L"7"},
      {L"Short", L"{33333333-abcd-ef01-8fe2-00c04fc28ac3}", 3, L"3"},
      {longer.c_str(), L"{44444444-abcd-ef01-8fe2-00c04fc28ad4}", 12, L"tail12"},
  };
  ASSERT_EQ(list.size(), std::size(expected));
  for (std::size_t i = 0; i < list.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(list[i].name, expected[i].name);
    EXPECT_EQ(list[i].guid, expected[i].guid);
    EXPECT_EQ(list[i].index, expected[i].index);
    EXPECT_EQ(list[i].path, expected[i].path);
  }
  ExpectAudioRecordInvariants(list);
  EXPECT_TRUE(fake.AllReleased());
}

// DirectSound may report a length below the fixed block; the block is still copied
// whole into the scratch buffer, which must therefore hold at least that much.
TEST_F(DSoundFakeTest, ShortReportedLengthStillReservesTheFixedBlock) {
  std::vector<FakeDsoundDevice> devices(1);
  devices[0].guid = MakeGuid(0x88888888, 0x08);
  devices[0].reportedLength = 8;
  FakeDirectSound fake(devices);
  ASSERT_TRUE(DSoundLib::InitInstance());
  DeviceInfoList list;
  EXPECT_TRUE(AudioCaptureWinDsound::EnumCaptureDevices(list));
  EXPECT_TRUE(list.empty());
  ASSERT_NE(DSoundLib::GetInstance(), nullptr);
  EXPECT_GE(DSoundLib::GetInstance()->propData.capacity(), 56);
  DSoundLib::UninitInstance();
  EXPECT_TRUE(fake.AllReleased());
}

TEST_F(DSoundFakeTest, FailedEnumerationKeepsTheRecordsMadeBeforeIt) {
  std::vector<FakeDsoundDevice> devices(1);
  devices[0].guid = MakeGuid(0x12345678, 0x01);
  devices[0].interfaceText = L"Interface";
  FakeDirectSound fake(devices);
  fake.enumerateResult = E_FAIL;
  ASSERT_TRUE(DSoundLib::InitInstance());
  DeviceInfoList list;
  EXPECT_FALSE(AudioCaptureWinDsound::EnumCaptureDevices(list));
  EXPECT_EQ(list.size(), 1u);
  DSoundLib::UninitInstance();
  EXPECT_TRUE(fake.AllReleased());
}

// One load and one free for a run of references, however many enumerations it spans.
TEST_F(DSoundFakeTest, OneLoadPerRunOfReferences) {
  std::vector<FakeDsoundDevice> devices(1);
  devices[0].guid = MakeGuid(0x12345678, 0x01);
  FakeDirectSound fake(devices);
  ASSERT_TRUE(DSoundLib::InitInstance());
  for (int i = 0; i < 2; ++i) {
    ASSERT_TRUE(DSoundLib::InitInstance());
    DeviceInfoList list;
    EXPECT_TRUE(AudioCaptureWinDsound::EnumCaptureDevices(list));
    EXPECT_EQ(list.size(), 1u);
    DSoundLib::UninitInstance();
    EXPECT_TRUE(DSoundModuleLoaded());
  }
  EXPECT_EQ(DSoundLib::ReferenceCount(), 1);
  DSoundLib::UninitInstance();
  DSoundLib::UninitInstance();  // no reference left: nothing happens
  EXPECT_EQ(fake.loads(), 1);
  EXPECT_EQ(fake.enumerations(), 2);
  EXPECT_TRUE(fake.AllReleased());
}

// The back end an enumeration starts is the one it stops: a switch turned on while
// DirectSound is listing must not strand the enumeration's own reference.
TEST_F(DSoundFakeTest, SwitchChangedDuringAnEnumerationLeavesNoReference) {
  std::vector<FakeDsoundDevice> devices(1);
  devices[0].guid = MakeGuid(0x12345678, 0x01);
  FakeDirectSound fake(devices);
  ScopedRegistryValue endpointsSwitch(HKEY_LOCAL_MACHINE, L"EnableAInWasapi");
  endpointsSwitch.SetDword(0);
  fake.duringEnumeration = [&endpointsSwitch] { endpointsSwitch.SetDword(1); };

  DeviceInfoList list;
  EXPECT_TRUE(AudioCaptureWin::EnumCaptureDevices(list));
  EXPECT_EQ(list.size(), 1u);
  EXPECT_EQ(fake.enumerations(), 1);
  EXPECT_EQ(DSoundLib::ReferenceCount(), 0);
  EXPECT_EQ(DSoundLib::GetInstance(), nullptr);
  EXPECT_TRUE(fake.AllReleased());
}

}  // namespace
}  // namespace kestrel_test
