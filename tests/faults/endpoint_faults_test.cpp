// Every COM call of the endpoint enumeration failing in turn, through a fake endpoint
// enumerator: result and partial list, the exact log lines, every reference released,
// the calling thread's apartment as it was; then the same fault seen by the callers.
#include <gtest/gtest.h>

#include <functional>

#include "devices/audio_capture_win.h"
#include "devices/platform_ids.h"
#include "devices/win_device_util.h"
#include "faults/co_task_mem_spy.h"
#include "faults/fault_harness.h"
#include "interface/mmdr_library.h"
#include "prefs/user_prefs_util.h"
#include "support/fake_mmdevice.h"
#include "support/registry_scratch.h"

namespace kestrel_test {
namespace {

constexpr int kEndpoints = 4;

using Value = FakeEndpointSpec::Value;

struct EndpointFaultRow {
  const char* fault;
  std::function<void(std::vector<FakeEndpointSpec>&)> breakEndpoints;
  std::function<void(FakeMMDeviceEnumerator&, FakeClassFactory&)> breakEnumerator;
  bool result;
  std::vector<ExpectedRecord> records;
  std::vector<std::string> log;
};

ExpectedRecord Mic(int i) {
  return {L"Fake Mic " + std::to_wstring(i), static_cast<std::uint32_t>(i),
          L"fake-endpoint-" + std::to_wstring(i)};
}
std::vector<ExpectedRecord> MicsBefore(int position) {
  std::vector<ExpectedRecord> mics;
  for (int i = 0; i < position; ++i) mics.push_back(Mic(i));
  return mics;
}

std::string Enum(const std::string& message) {
  return "WinDeviceUtil::EnumCaptureDevices - " + message;
}
const std::string kOpenStore = "WinDeviceUtil::RetrievePropertyValue - failed to open property store.";
const std::string kGetValue = "WinDeviceUtil::RetrievePropertyValue - failed to get key value.";

// Breaks the endpoint at one position.
std::function<void(std::vector<FakeEndpointSpec>&)> At(int position,
                                                       std::function<void(FakeEndpointSpec&)> fault) {
  return [position, fault](std::vector<FakeEndpointSpec>& endpoints) {
    fault(endpoints[static_cast<std::size_t>(position)]);
  };
}

const std::vector<EndpointFaultRow>& Rows() {
  static const std::vector<EndpointFaultRow> rows = {
      {"no fault", nullptr, nullptr, true, MicsBefore(kEndpoints), {}},
      {"enumerator cannot be created", nullptr,
       [](auto&, FakeClassFactory& factory) { factory.set_create_result(REGDB_E_CLASSNOTREG); },
       false, {}, {Enum("failed to call CoCreateInstance, error: 80040154.")}},
      {"EnumAudioEndpoints fails", nullptr,
       [](FakeMMDeviceEnumerator& enumerator, auto&) { enumerator.enumResult = E_OUTOFMEMORY; },
       false, {}, {Enum("failed to call EnumAudioEndpoints, error: 8007000e.")}},
      {"GetCount fails", nullptr,
       [](FakeMMDeviceEnumerator& enumerator, auto&) { enumerator.countResult = E_ACCESSDENIED; },
       false, {}, {Enum("failed to call GetCount, error: 80070005.")}},
      {"Item fails at position 2", nullptr,
       [](FakeMMDeviceEnumerator& enumerator, auto&) { enumerator.failingItem = 2; }, false,
       MicsBefore(2), {Enum("failed to get index: 2 of device.")}},
      {"Item fails at position 0", nullptr,
       [](FakeMMDeviceEnumerator& enumerator, auto&) { enumerator.failingItem = 0; }, false, {},
       {Enum("failed to get index: 0 of device.")}},
      {"OpenPropertyStore fails at position 2",
       At(2, [](FakeEndpointSpec& setup) { setup.openStoreFails = true; }), nullptr, false,
       MicsBefore(2), {kOpenStore, Enum("failed to get friendly name: 2 of device.")}},
      {"GetValue fails for the friendly name at position 2",
       At(2, [](FakeEndpointSpec& setup) { setup.nameKind = Value::GetValueFails; }), nullptr, false,
       MicsBefore(2), {kGetValue, Enum("failed to get friendly name: 2 of device.")}},
      {"friendly name not a string at position 2",
       At(2, [](FakeEndpointSpec& setup) { setup.nameKind = Value::NotString; }), nullptr, false,
       MicsBefore(2), {Enum("failed to get friendly name: 2 of device.")}},
      {"friendly name an interface at position 3",
       At(3, [](FakeEndpointSpec& setup) { setup.nameKind = Value::Interface; }), nullptr, false,
       MicsBefore(3), {Enum("failed to get friendly name: 3 of device.")}},
      {"GetValue fails for the GUID at position 2",
       At(2, [](FakeEndpointSpec& setup) { setup.guidKind = Value::GetValueFails; }), nullptr, false,
       MicsBefore(2), {kGetValue, Enum("failed to get guid: 2 of device.")}},
      {"GUID missing at position 2",
       At(2, [](FakeEndpointSpec& setup) { setup.guidKind = Value::Missing; }), nullptr, false,
       MicsBefore(2), {Enum("failed to get guid: 2 of device.")}},
      {"GUID an interface at position 1",
       At(1, [](FakeEndpointSpec& setup) { setup.guidKind = Value::Interface; }), nullptr, false,
       MicsBefore(1), {Enum("failed to get guid: 1 of device.")}},
      {"GetId fails at position 2: listed without path and id",
       At(2, [](FakeEndpointSpec& setup) { setup.endpointId.reset(); }), nullptr, true,
       {Mic(0), Mic(1), {L"Fake Mic 2", 2, L""}, Mic(3)},
       {"WinDeviceUtil::GetDeviceID - failed to get device ID."}},
  };
  return rows;
}

// The callers: the device-list call reports the partial list; the preference lookup
// treats a false result as a failed enumeration.
void CheckConsumers(const EndpointFaultRow& row) {
  {
    SCOPED_TRACE("Mmdr_EnumDevices");
    ScopedMmdrHandle handle;
    const std::vector<EnumeratedDevice> devices = EnumerateThroughDll(handle.get(), MMDR_DEVICE_AUDIO);
    ASSERT_EQ(devices.size(), row.records.size());
    for (std::size_t i = 0; i < devices.size(); ++i) {
      EXPECT_EQ(devices[i].name, Utf8(row.records[i].name));
      EXPECT_EQ(devices[i].id, Utf8(row.records[i].path));
    }
  }
  {
    SCOPED_TRACE("preferred microphone");
    // A name present in every partial list that has a record.
    ScopedPreferredName preferredName(L"srcAudioInId", L"srcAudioInName", L"Fake Mic 0");
    DrainLibraryLog();
    const DeviceInfo preferred = UserPrefsUtil::PreferredAInDeviceInfo();
    std::vector<std::string> log = row.log;
    if (row.result) {
      ASSERT_FALSE(row.records.empty());
      EXPECT_EQ(preferred.name, L"Fake Mic 0");
      EXPECT_EQ(preferred.id, row.records.front().path);
    } else {
      EXPECT_TRUE(preferred.name.empty());
      EXPECT_TRUE(preferred.id.empty());
      log.push_back("UserPrefsUtil::PreferredAInDeviceInfo - Failed to enum the device.");
    }
    ExpectLogLines(DrainLibraryLog(), log);
  }
}

void RunRow(const EndpointFaultRow& row, ThreadApartment start) {
  RunOnThreadIn(start, [&] {
    ASSERT_TRUE(WatchCoTaskMemFrees());
    std::vector<FakeEndpointSpec> specs = MakeFakeEndpoints(kEndpoints);
    if (row.breakEndpoints) row.breakEndpoints(specs);
    FakeMMDeviceEnumerator enumerator(std::move(specs));
    FakeClassFactory factory(&enumerator);
    if (row.breakEnumerator) row.breakEnumerator(enumerator, factory);
    {
      ScopedFakeClass fake(kMMDeviceEnumeratorClsid, &factory);
      ASSERT_TRUE(fake.ready());
      // The enumerator itself, then the back-end selection that callers use (the
      // switch absent: endpoints).
      ScopedRegistryValue wasapi(HKEY_LOCAL_MACHINE, L"EnableAInWasapi");
      wasapi.Remove();
      for (const bool throughBackEnd : {false, true}) {
        SCOPED_TRACE(throughBackEnd ? "AudioCaptureWin::EnumCaptureDevices"
                                    : "WinDeviceUtil::EnumCaptureDevices");
        DrainLibraryLog();
        const ApartmentState before = CurrentApartment();
        DeviceInfo stale;
        stale.name = L"stale";
        DeviceInfoList list{stale};

        const bool result = throughBackEnd ? AudioCaptureWin::EnumCaptureDevices(list)
                                           : WinDeviceUtil::EnumCaptureDevices(list);

        EXPECT_EQ(result, row.result);
        ExpectSameApartment(before, CurrentApartment());
        if (fake.redirected()) {
          EXPECT_TRUE(fake.CreatedInSta());
        }
        ExpectLogLines(DrainLibraryLog(), row.log);
        ExpectRecords(list, row.records);
        for (const DeviceInfo& device : list) EXPECT_EQ(device.kind, 0u);
        EXPECT_TRUE(enumerator.AllReleased());
      }
      if (start == ThreadApartment::Sta) CheckConsumers(row);
    }
    EXPECT_TRUE(enumerator.AllReleased());
    EXPECT_EQ(factory.outstanding(), 0);
    // Every id and string value handed out was freed.
    EXPECT_EQ(NotFreedCoTaskMem(enumerator.HandedOutTexts()).size(), 0u);
  });
}

class EndpointFaultTest : public ::testing::TestWithParam<ThreadApartment> {};

TEST_P(EndpointFaultTest, EachFaultGivesItsResultListAndLinesAndReleasesEverything) {
  for (const EndpointFaultRow& row : Rows()) {
    SCOPED_TRACE(row.fault);
    RunRow(row, GetParam());
  }
}

INSTANTIATE_TEST_SUITE_P(Threads, EndpointFaultTest,
                         ::testing::Values(ThreadApartment::None, ThreadApartment::Sta),
                         [](const ::testing::TestParamInfo<ThreadApartment>& info) {
                           return info.param == ThreadApartment::None ? "OutsideCom" : "Sta";
                         });

}  // namespace
}  // namespace kestrel_test
