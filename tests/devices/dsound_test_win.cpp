// DirectSound through a fake dsound.dll: every load step failing, odd descriptions, the
// instance's lifetime, and the back-end switch read once per enumeration.
#include <gtest/gtest.h>

#include "kinds/audio_capture.h"
#include "devices/dsound_lib.h"
#include "support/devices.h"
#include "support/fake_dsound_win.h"
#include "support/log_capture.h"
#include "support/settings_scope.h"

namespace kestrel_test {
namespace {

GUID Guid(unsigned long n) {  // every group distinct, digits 8-f in each
  return GUID{0x9ABCDEF0 + n, 0x25EC, 0x11D1, {0xA4, 0xD8, 0, 0xC0, 0x4F, 0xC2, 0x8A, 0xCA}};
}

void ExpectNoInstance(const FakeDirectSound& fake) {
  EXPECT_EQ(DSoundLib::GetInstanceForTesting(), nullptr);
  EXPECT_EQ(DSoundLib::ReferenceCountForTesting(), 0);
  EXPECT_FALSE(FakeDirectSound::StandInLoaded());
  EXPECT_TRUE(fake.AllReleased());
}

TEST(DirectSound, EveryLoadStepThatFailsLeavesNothingAndIsTriedAgain) {
  for (FakeDsoundFault fault :
       {FakeDsoundFault::LoadFails, FakeDsoundFault::NoCaptureEnumerate,
        FakeDsoundFault::NoGetClassObject, FakeDsoundFault::ClassObjectNotOk,
        FakeDsoundFault::PropertyObjectRefused}) {
    SCOPED_TRACE(static_cast<int>(fault));
    FakeDirectSound fake({}, fault);
    EXPECT_FALSE(DSoundLib::InitInstance());
    ExpectNoInstance(fake);
    DeviceInfoList list{DeviceInfo{}};
    EXPECT_FALSE(AudioCaptureWinDsound::EnumCaptureDevices(list));
    EXPECT_TRUE(list.empty());
    EXPECT_FALSE(DSoundLib::InitInstance());
    EXPECT_EQ(fake.loads(), 2);
  }
}

TEST(DirectSound, ListsEveryDescribedDeviceExceptTheDefaultEntry) {
  const std::wstring prefix35(35, L'p');
  FakeDirectSound fake({
      {std::nullopt, L"Default entry", L"IF0", 0},
      {std::nullopt, L"", L"IF0", 0},
      {Guid(2), L"Mic Two", L"IF2", 2},
      {Guid(3), prefix35, std::nullopt, 3},
      {Guid(4), prefix35 + L"tail", std::nullopt, 0xFFFFFFFF},
      {Guid(5), L"Short", std::nullopt, 5},
      {Guid(6), L"Fails", L"IF6", 6, 0, true},
      {Guid(7), L"Null", L"IF7", 7, 0, false, true},
      {Guid(8), L"Throws", L"IF8", 8, 0, false, false, true},
      {Guid(9), L"Last", L"IF9", 9},
  });
  fake.enumerateResult = E_FAIL;  // reported as false; the records made stay
  ASSERT_TRUE(DSoundLib::InitInstance());
  DeviceInfoList list{DeviceInfo{}};
  const ScopedLogThreshold debug;
  EXPECT_FALSE(AudioCaptureWinDsound::EnumCaptureDevices(list));
  ExpectLogged(
      debug.Lines(),
      "\"Default entry\": not listed, DirectSound's default-device entry|"
      "- \"\": not listed, DirectSound's default-device entry|"
      "verbose devices: ConvertGuidToString - guid: {9abcdef2-25ec-11d1-a4d8-00c04fc28aca}|"
      "\"Fails\": not listed, no description|\"Null\": not listed, no name|"
      "\"Throws\": not listed, its description failed|\"Mic Two\": listed, id \"IF2\"|"
      "error devices: DSoundLib::EnumCaptureDevices - DirectSoundCaptureEnumerateW "
      "failed, error: 80004005");
  EXPECT_EQ(NamesAndIds(list), (std::vector<NameAndId>{{L"Mic Two", L"IF2"},
                                                       {prefix35, L"3"},
                                                       {prefix35 + L"tail", L"tail-1"},
                                                       {L"Short", L"5"},
                                                       {L"Last", L"IF9"}}));
  DSoundLib::UninitInstance();
  ExpectNoInstance(fake);
}

TEST(DirectSound, AShortReportedLengthStillReservesTheFixedBlock) {
  // The fixed block is copied whole into the scratch buffer, whatever length is reported.
  FakeDirectSound fake({{Guid(1), L"Short length", L"IF1", 1, 8}});
  ASSERT_TRUE(DSoundLib::InitInstance());
  DeviceInfoList list;
  EXPECT_TRUE(AudioCaptureWinDsound::EnumCaptureDevices(list));
  EXPECT_TRUE(list.empty());
  EXPECT_GE(DSoundLib::GetInstanceForTesting()->propData.capacity(), 56);
  DSoundLib::UninitInstance();
  ExpectNoInstance(fake);
}

TEST(AudioBackEnd, AnEnumerationReadsTheSwitchOnce) {
  SettingsScope scope;
  SettingsScope::PutNumber(Store::Machine, "EnableAInWasapi", 0);
  FakeDirectSound fake({{Guid(1), L"Mic", L"IF1", 1}});
  fake.duringEnumeration = [] { SettingsScope::PutNumber(Store::Machine, "EnableAInWasapi", 1); };
  DeviceInfoList list;
  EXPECT_TRUE(AudioCapture::EnumCaptureDevices(list));
  EXPECT_EQ(NamesAndIds(list), (std::vector<NameAndId>{{L"Mic", L"IF1"}}));
  ExpectNoInstance(fake);
}

}  // namespace
}  // namespace kestrel_test
