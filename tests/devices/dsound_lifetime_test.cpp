// The audio back ends against Wine's real DirectSound and Core Audio, chosen by the
// machine switch "EnableAInWasapi": when dsound.dll is loaded and freed, which back end
// lists the fixture microphones, and many threads at once.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <set>
#include <thread>

#include "devices/audio_capture_win.h"
#include "devices/device_test_util.h"
#include "devices/dsound_lib.h"
#include "devices/win_device_util.h"
#include "support/registry_scratch.h"

namespace kestrel_test {
namespace {

bool DSoundModuleLoaded() { return GetModuleHandleW(L"dsound.dll") != nullptr; }

// Wine's DirectSound describes every capture device with the interface text
// "Interface"; endpoint records carry endpoint ids instead.
bool CameFromDirectSound(const DeviceInfoList& list) {
  return !list.empty() && std::all_of(list.begin(), list.end(), [](const DeviceInfo& device) {
    return device.path == L"Interface";
  });
}

void ExpectFixtureMicrophonesAmong(const DeviceInfoList& list) {
  const std::vector<std::wstring> names = NamesOf(list);
  for (const std::wstring& mic : FixtureMicrophoneNames()) {
    EXPECT_NE(std::find(names.begin(), names.end(), mic), names.end()) << Narrow(mic);
  }
}

class AudioBackEndTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The program must not load dsound.dll by any other way, or the checks below would
    // say nothing (a video enumeration, for one, keeps it loaded).
    ASSERT_FALSE(DSoundModuleLoaded());
    selfReferences_ = DSoundSelfReferencesPerLoad();
    ASSERT_GE(selfReferences_, 0);
    ASSERT_EQ(DSoundLib::ReferenceCount(), 0);
  }
  void TearDown() override {
    EXPECT_EQ(DSoundLib::ReferenceCount(), 0);
    EXPECT_EQ(DSoundLib::GetInstance(), nullptr);
    DropRemainingDSoundReferences();  // leave the next test a process without it
  }
  // After the library's last reference went: only dsound.dll's own references remain,
  // so every load the library made was matched by a free. Drops them, too.
  void ExpectLibraryReferencesAllFreed() {
    EXPECT_EQ(DropRemainingDSoundReferences(), selfReferences_);
  }

  int selfReferences_ = 0;
  ScopedRegistryValue wasapi_{HKEY_LOCAL_MACHINE, L"EnableAInWasapi"};
};

TEST_F(AudioBackEndTest, SwitchOffLoadsDSoundOnceForInitEnumerationsAndUninit) {
  wasapi_.SetDword(0);
  ASSERT_TRUE(AudioCaptureWin::Init());
  const HMODULE loaded = GetModuleHandleW(L"dsound.dll");
  ASSERT_NE(loaded, nullptr);
  DSoundLib* const instance = DSoundLib::GetInstance();
  for (int run = 0; run < 2; ++run) {
    SCOPED_TRACE(run);
    DeviceInfoList list;
    EXPECT_TRUE(AudioCaptureWin::EnumCaptureDevices(list));
    EXPECT_TRUE(CameFromDirectSound(list));
    ExpectFixtureMicrophonesAmong(list);
    ExpectAudioRecordInvariants(list);
    EXPECT_EQ(DSoundLib::GetInstance(), instance);
    EXPECT_EQ(GetModuleHandleW(L"dsound.dll"), loaded);
    EXPECT_EQ(DSoundLib::ReferenceCount(), 1);
  }
  AudioCaptureWin::Uninit();
  EXPECT_EQ(DSoundLib::GetInstance(), nullptr);
  ExpectLibraryReferencesAllFreed();
}

TEST_F(AudioBackEndTest, SwitchOnOrAbsentNeverLoadsDSound) {
  for (bool absent : {true, false}) {
    SCOPED_TRACE(absent ? "absent" : "1");
    if (absent) {
      wasapi_.Remove();
    } else {
      wasapi_.SetDword(1);
    }
    EXPECT_TRUE(AudioCaptureWin::Init());
    for (int run = 0; run < 2; ++run) {
      DeviceInfoList list;
      EXPECT_TRUE(AudioCaptureWin::EnumCaptureDevices(list));
      EXPECT_EQ(SortedNamesOf(list), FixtureMicrophoneNames());
      EXPECT_FALSE(CameFromDirectSound(list));
      EXPECT_FALSE(DSoundModuleLoaded());
    }
    AudioCaptureWin::Uninit();
    EXPECT_EQ(DSoundLib::ReferenceCount(), 0);
  }
}

// The reference taken while the switch was off stays until a stop runs with it off.
TEST_F(AudioBackEndTest, SwitchTurnedOnBetweenInitAndUninitKeepsTheReference) {
  wasapi_.SetDword(0);
  ASSERT_TRUE(AudioCaptureWin::Init());
  wasapi_.SetString(L"true");
  DeviceInfoList list;
  EXPECT_TRUE(AudioCaptureWin::EnumCaptureDevices(list));
  EXPECT_FALSE(CameFromDirectSound(list));
  EXPECT_EQ(SortedNamesOf(list), FixtureMicrophoneNames());
  AudioCaptureWin::Uninit();
  EXPECT_TRUE(DSoundModuleLoaded());
  EXPECT_EQ(DSoundLib::ReferenceCount(), 1);

  wasapi_.SetString(L"false");
  AudioCaptureWin::Uninit();  // the stop that finally drops it
  ExpectLibraryReferencesAllFreed();
}

TEST_F(AudioBackEndTest, SwitchTurnedOffBetweenInitAndUninitLoadsOnlyForTheEnumeration) {
  wasapi_.SetDword(1);
  ASSERT_TRUE(AudioCaptureWin::Init());
  EXPECT_FALSE(DSoundModuleLoaded());
  wasapi_.SetDword(0);
  DeviceInfoList list;
  EXPECT_TRUE(AudioCaptureWin::EnumCaptureDevices(list));
  EXPECT_TRUE(CameFromDirectSound(list));
  EXPECT_EQ(DSoundLib::ReferenceCount(), 0);
  EXPECT_EQ(DSoundLib::GetInstance(), nullptr);
  ExpectLibraryReferencesAllFreed();
  AudioCaptureWin::Uninit();  // finds no reference to drop
  EXPECT_EQ(DSoundLib::ReferenceCount(), 0);
  EXPECT_FALSE(DSoundModuleLoaded());
}

// Both back ends see the same devices: DirectSound's capture GUIDs are the endpoints'
// GUID property, and neither lists the default-device entry.
TEST_F(AudioBackEndTest, BothBackEndsAgreeOnNamesAndGuids) {
  DeviceInfoList endpoints;
  ASSERT_TRUE(WinDeviceUtil::EnumCaptureDevices(endpoints));
  wasapi_.SetDword(0);
  DeviceInfoList dsound;
  ASSERT_TRUE(AudioCaptureWin::EnumCaptureDevices(dsound));
  ASSERT_EQ(dsound.size(), endpoints.size());

  std::set<std::pair<std::wstring, std::wstring>> fromEndpoints;
  std::set<std::pair<std::wstring, std::wstring>> fromDSound;
  for (const DeviceInfo& device : endpoints) fromEndpoints.insert({device.name, device.guid});
  for (const DeviceInfo& device : dsound) fromDSound.insert({device.name, device.guid});
  EXPECT_EQ(fromDSound, fromEndpoints);
  for (const DeviceInfo& device : dsound) {
    EXPECT_NE(device.guid, L"{00000000-0000-0000-0000-000000000000}");
  }
}

// Threads that take and drop references and enumerate at once: every enumeration sees
// the whole device list in its own list, and the last reference unloads.
TEST_F(AudioBackEndTest, ConcurrentReferencesAndEnumerationsEndUnloaded) {
  wasapi_.SetDword(0);
  constexpr int kThreads = 8;
  constexpr int kRounds = 15;
  std::atomic<int> badLists{0};
  std::atomic<int> enumerations{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < kRounds; ++round) {
        if ((t + round) % 3 == 0) {
          // A handle's lifetime: start, maybe an enumeration, stop.
          AudioCaptureWin::Init();
          if (round % 2 == 0) std::this_thread::yield();
          AudioCaptureWin::Uninit();
        } else {
          DeviceInfoList list;
          const bool listed = AudioCaptureWin::EnumCaptureDevices(list);
          ++enumerations;
          if (!listed || list.size() != FixtureMicrophoneNames().size() ||
              !CameFromDirectSound(list)) {
            ++badLists;
          }
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_GT(enumerations.load(), 0);
  EXPECT_EQ(badLists.load(), 0);
  EXPECT_EQ(DSoundLib::GetInstance(), nullptr);
  ExpectLibraryReferencesAllFreed();
}

}  // namespace
}  // namespace kestrel_test
