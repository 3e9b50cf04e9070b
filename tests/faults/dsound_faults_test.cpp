// Every step of the DirectSound path failing in turn, behind a fake dsound.dll: loading,
// the class object, the property object, the capture enumeration, one device's
// description. Run as callers run it (the back end chosen by the switch, with and
// without a handle's reference held): result and list, the exact log lines, the fake
// objects and the stand-in module released, the thread's apartment untouched.
#include <gtest/gtest.h>

#include <functional>

#include "devices/audio_capture_win.h"
#include "devices/dsound_lib.h"
#include "faults/fault_harness.h"
#include "prefs/user_prefs_util.h"
#include "support/fake_dsound.h"
#include "support/registry_scratch.h"

namespace kestrel_test {
namespace {

constexpr int kDevices = 3;

struct DsoundFaultRow {
  const char* fault;
  FakeDsoundFault loadFault;
  std::function<void(std::vector<FakeDsoundDevice>&)> breakDevices;
  HRESULT enumerateResult;
  bool result;
  std::vector<ExpectedRecord> records;
  std::vector<std::string> log;
};

// DirectSound's default-device entry first, then "DS Mic <i>" with wave device id 10 + i.
std::vector<FakeDsoundDevice> MakeDevices() {
  std::vector<FakeDsoundDevice> devices(kDevices + 1);
  devices[0].description = L"Primary Sound Capture Driver";
  for (int i = 0; i < kDevices; ++i) {
    FakeDsoundDevice& device = devices[static_cast<std::size_t>(i) + 1];
    device.guid = GUID{0x5EC00000u + static_cast<unsigned long>(i), 0x1234, 0x5678,
                       {0x9A, 0xBC, 0xDE, 0xF0, 0x12, 0x34, 0x56, 0x78}};
    device.description = L"DS Mic " + std::to_wstring(i);
    device.interfaceText = L"iface-" + std::to_wstring(i);
    device.waveDeviceId = 10 + static_cast<DWORD>(i);
  }
  return devices;
}

ExpectedRecord DsMic(int i) {
  return {L"DS Mic " + std::to_wstring(i), 10u + static_cast<std::uint32_t>(i),
          L"iface-" + std::to_wstring(i)};
}

std::function<void(std::vector<FakeDsoundDevice>&)> AtMic(int i,
                                                          std::function<void(FakeDsoundDevice&)> fault) {
  return [i, fault](std::vector<FakeDsoundDevice>& devices) {
    fault(devices[static_cast<std::size_t>(i) + 1]);
  };
}

const std::string kLoad = "DSoundLib::LoadDSoundLib - ";
const std::string kNoInstance =
    "AudioCaptureWinDsound::EnumCaptureDevices - Got a NULL DSoundLib instance";

DsoundFaultRow LoadFault(const char* what, FakeDsoundFault fault, const std::string& message) {
  return {what, fault, nullptr, S_OK, false, {}, {message, kNoInstance}};
}

const std::vector<DsoundFaultRow>& Rows() {
  static const std::vector<DsoundFaultRow> rows = {
      {"no fault", FakeDsoundFault::None, nullptr, S_OK, true, {DsMic(0), DsMic(1), DsMic(2)}, {}},
      LoadFault("dsound.dll cannot be loaded", FakeDsoundFault::LoadLibraryFails,
                kLoad + "LoadLibrary for loading dsound.dll failed: * (0x7e)"),
      LoadFault("DirectSoundCaptureEnumerateW missing", FakeDsoundFault::NoCaptureEnumerate,
                kLoad + "GetProcAddress for DirectSoundCaptureEnumerateW failed: * (0x7f)"),
      LoadFault("DllGetClassObject missing", FakeDsoundFault::NoGetClassObject,
                kLoad + "GetProcAddress for DllGetClassObject failed: * (0x7f)"),
      LoadFault("DllGetClassObject fails", FakeDsoundFault::ClassObjectRefused,
                kLoad + "Failed to create a Class Factory Object"),
      LoadFault("DllGetClassObject: S_FALSE with a factory", FakeDsoundFault::ClassObjectNotOk,
                kLoad + "Failed to create a Class Factory Object"),
      LoadFault("DllGetClassObject: S_OK without a factory", FakeDsoundFault::ClassObjectOkNoFactory,
                kLoad + "Failed to create a Class Factory Object"),
      LoadFault("CreateInstance fails", FakeDsoundFault::PropertyObjectRefused,
                kLoad + "Failed to create DirectSoundPrivate Object"),
      LoadFault("CreateInstance fails yet hands out an object",
                FakeDsoundFault::PropertyObjectRefusedWithObject,
                kLoad + "Failed to create DirectSoundPrivate Object"),
      {"capture enumeration fails after every record", FakeDsoundFault::None, nullptr,
       E_FAIL, false, {DsMic(0), DsMic(1), DsMic(2)}, {}},
      {"capture enumeration fails with no device", FakeDsoundFault::None,
       [](auto& devices) { devices.clear(); }, E_FAIL, false, {}, {}},
      {"description length reported as 0", FakeDsoundFault::None,
       AtMic(1, [](FakeDsoundDevice& device) { device.reportsNoLength = true; }), S_OK, true,
       {DsMic(0), DsMic(2)}, {}},
      {"description Get fails", FakeDsoundFault::None,
       AtMic(0, [](FakeDsoundDevice& device) { device.describeFails = true; }), S_OK, true,
       {DsMic(1), DsMic(2)}, {}},
      {"description without a Description text", FakeDsoundFault::None,
       AtMic(2, [](FakeDsoundDevice& device) { device.nullDescription = true; }), S_OK, true,
       {DsMic(0), DsMic(1)}, {}},
  };
  return rows;
}

// The preference lookup treats a false result as a failed enumeration.
void CheckPreferenceLookup(const DsoundFaultRow& row) {
  SCOPED_TRACE("preferred microphone");
  ScopedPreferredName preferredName(L"srcAudioInId", L"srcAudioInName",
                                    row.records.empty() ? L"DS Mic 0" : row.records.front().name);
  DrainLibraryLog();
  const DeviceInfo preferred = UserPrefsUtil::PreferredAInDeviceInfo();
  std::vector<std::string> log = row.log;
  if (row.result) {
    EXPECT_EQ(preferred.name, row.records.front().name);
    EXPECT_EQ(preferred.id, row.records.front().path);
  } else {
    EXPECT_TRUE(preferred.name.empty());
    log.push_back("UserPrefsUtil::PreferredAInDeviceInfo - Failed to enum the device.");
  }
  ExpectLogLines(DrainLibraryLog(), log);
}

void ExpectNothingHeld(const FakeDirectSound& fake) {
  EXPECT_EQ(DSoundLib::ReferenceCount(), 0);
  EXPECT_EQ(DSoundLib::GetInstance(), nullptr);
  EXPECT_FALSE(FakeDirectSound::StandInLoaded());
  EXPECT_TRUE(fake.AllReleased());
}

void RunRow(const DsoundFaultRow& row, ThreadApartment start) {
  RunOnThreadIn(start, [&] {
    std::vector<FakeDsoundDevice> devices = MakeDevices();
    if (row.breakDevices) row.breakDevices(devices);
    FakeDirectSound fake(std::move(devices), row.loadFault);
    fake.enumerateResult = row.enumerateResult;
    ScopedRegistryValue wasapi(HKEY_LOCAL_MACHINE, L"EnableAInWasapi");
    wasapi.SetDword(0);

    // Without a reference held the enumeration loads and frees by itself; with one
    // (a handle open) it uses the instance the handle's start made.
    for (const bool handleOpen : {false, true}) {
      SCOPED_TRACE(handleOpen ? "with a handle's reference" : "without a reference");
      DrainLibraryLog();
      const ApartmentState before = CurrentApartment();
      std::vector<std::string> log = row.log;
      if (handleOpen) {
        EXPECT_EQ(AudioCaptureWin::Init(), row.loadFault == FakeDsoundFault::None);
        if (row.loadFault != FakeDsoundFault::None) log.insert(log.begin(), row.log.front());
      }
      DeviceInfo stale;
      stale.name = L"stale";
      DeviceInfoList list{stale};

      EXPECT_EQ(AudioCaptureWin::EnumCaptureDevices(list), row.result);
      if (handleOpen) {
        EXPECT_EQ(FakeDirectSound::StandInLoaded(), row.loadFault == FakeDsoundFault::None);
        AudioCaptureWin::Uninit();
      }

      ExpectSameApartment(before, CurrentApartment());
      ExpectLogLines(DrainLibraryLog(), log);
      ExpectRecords(list, row.records);
      for (const DeviceInfo& device : list) {
        EXPECT_EQ(device.kind, 0u);
        EXPECT_TRUE(IsLowerCaseGuidText(device.guid)) << Narrow(device.guid);
      }
      ExpectNothingHeld(fake);
    }
    if (start == ThreadApartment::Sta) CheckPreferenceLookup(row);
    ExpectNothingHeld(fake);
  });
}

class DsoundFaultTest : public ::testing::TestWithParam<ThreadApartment> {
 protected:
  void SetUp() override {
    ASSERT_FALSE(FakeDirectSound::StandInLoaded()) << "something else loaded the stand-in module";
    ASSERT_EQ(DSoundLib::ReferenceCount(), 0);
  }
};

TEST_P(DsoundFaultTest, EachFaultGivesItsResultListAndLinesAndReleasesEverything) {
  for (const DsoundFaultRow& row : Rows()) {
    SCOPED_TRACE(row.fault);
    RunRow(row, GetParam());
  }
}

INSTANTIATE_TEST_SUITE_P(Threads, DsoundFaultTest,
                         kAllThreadApartments, ThreadApartmentTestName);

}  // namespace
}  // namespace kestrel_test
