// The exported calls over what only Windows has: the DirectSound back end as handles and
// enumerations start and stop it (a fake dsound.dll), a registry write that fails, and the
// process's heaps after hundreds of sessions.
#include <gtest/gtest.h>

#include "devices/dsound_lib.h"
#include "prefs/reg_utils.h"
#include "support/devices.h"
#include "support/fake_dsound_win.h"
#include "support/log_capture.h"
#include "support/settings_scope.h"
#include "support/webcam_fixture.h"

namespace kestrel_test {
namespace {

const GUID kMicGuid = {0x11111111, 1, 1, {1, 1, 1, 1, 1, 1, 1, 1}};
const std::vector<Entry> kFakeMics = {{"IF1", "Fake Mic"}};

void SetSwitch(std::optional<DWORD> value) {
  SettingsScope::Remove(Store::Machine, "EnableAInWasapi");
  if (value) SettingsScope::PutNumber(Store::Machine, "EnableAInWasapi", *value);
}

// References held on the shared DirectSound instance, and whether dsound.dll is loaded.
std::pair<int, bool> DirectSoundHeld() {
  EXPECT_EQ(DSoundLib::GetInstanceForTesting() != nullptr,
            DSoundLib::ReferenceCountForTesting() > 0);
  return {DSoundLib::ReferenceCountForTesting(), FakeDirectSound::StandInLoaded()};
}

TEST(AudioBackEnd, AHandleHoldsDirectSoundWhenItsInitTookItUntilItsOwnUninit) {
  SettingsScope scope;
  FakeDirectSound fake({{kMicGuid, L"Fake Mic", L"IF1", 1}});
  MmdrHandle *a = nullptr, *b = nullptr;
  const ScopedLogThreshold debug;
  ASSERT_EQ(Mmdr_Init(1, &a), MMDR_OK);  // switch absent: endpoints; a takes nothing
  EXPECT_EQ(SortedNames(Enumerate(a, 2)), FixtureMicrophones());
  ExpectLogged(debug.Lines(), "Core Audio endpoints: EnableAInWasapi is on (not set, the default)");
  SetSwitch(0);
  ASSERT_EQ(Mmdr_Init(2, &b), MMDR_OK);
  Mmdr_Uninit(a);
  EXPECT_EQ(DirectSoundHeld(), std::make_pair(1, true));
  EXPECT_EQ(Enumerate(b, 2), kFakeMics);
  EXPECT_EQ(Enumerate(b, 2), kFakeMics);
  Mmdr_Uninit(b);
  EXPECT_EQ(DirectSoundHeld(), std::make_pair(0, false));
  ASSERT_EQ(Mmdr_Init(1, &a), MMDR_OK);
  SetSwitch(std::nullopt);
  Mmdr_Uninit(a);  // released whatever the switch says by now
  EXPECT_EQ(DirectSoundHeld(), std::make_pair(0, false));
  EXPECT_EQ(fake.loads(), 2);
  EXPECT_TRUE(fake.AllReleased());
}

TEST(AudioBackEnd, ADirectSoundStartThatFailsLeavesNothingBehind) {
  SettingsScope scope;
  SettingsScope::PutText(Store::User, "srcAudioInName", "Fake Mic");
  ScopedMmdrHandle opened;  // switch absent: the handle takes nothing
  SetSwitch(0);
  const ScopedLogThreshold debug;
  {
    FakeDirectSound fake({}, FakeDsoundFault::ResolveThrows);  // memory runs out while loading
    MmdrHandle* handle = nullptr;
    std::uint32_t count = 77;
    char text[MMDR_TEXT_FIELD_SIZE] = "guard";
    EXPECT_EQ(Mmdr_Init(1, &handle), MMDR_OUT_OF_MEMORY);
    EXPECT_EQ(Mmdr_EnumDevices(opened.get(), 2, 0, nullptr, &count), MMDR_OUT_OF_MEMORY);
    EXPECT_EQ(Mmdr_GetPrefDev(opened.get(), 2, MMDR_PREF_NAME, text), MMDR_OUT_OF_MEMORY);
    EXPECT_EQ(handle, nullptr);
    EXPECT_EQ(count, 77u);
    EXPECT_STREQ(text, "guard");
    EXPECT_EQ(DirectSoundHeld(), std::make_pair(0, false));
    ExpectLogged(debug.Lines(),
                 "Mmdr_Init - out of memory|Mmdr_EnumDevices - out of memory|"
                 "Mmdr_GetPrefDev - out of memory");
  }
  MmdrHandle* failed = nullptr;
  {
    FakeDirectSound fake({}, FakeDsoundFault::LoadFails);
    ASSERT_EQ(Mmdr_Init(1, &failed), MMDR_OK);  // opens all the same
    EXPECT_EQ(DirectSoundHeld(), std::make_pair(0, false));
    EXPECT_EQ(Enumerate(failed, 2), std::vector<Entry>{});
    EXPECT_EQ(fake.loads(), 3) << "Mmdr_Init, then each of the two enumerations tries again";
  }
  FakeDirectSound fake({{kMicGuid, L"Fake Mic", L"IF1", 1}});
  ScopedMmdrHandle holder;
  Mmdr_Uninit(failed);  // took nothing, so it gives nothing back
  EXPECT_EQ(DirectSoundHeld(), std::make_pair(1, true));
  // An enumeration that failed part-way is listed, but never picks a preferred device.
  fake.enumerateResult = E_FAIL;
  EXPECT_EQ(Enumerate(holder.get(), 2), kFakeMics);
  EXPECT_EQ(PreferredText(holder.get(), 2, MMDR_PREF_NAME), "code 11");
}

// Wine's own dsound.dll, whose enumeration begins with the default-device entry.
TEST(AudioBackEnd, DirectSoundListsEveryMicrophoneOfThePrefix) {
  SettingsScope scope;
  const ScopedLogThreshold debug;
  SetSwitch(0);
  {
    ScopedMmdrHandle handle;
    EXPECT_EQ(SortedNames(Enumerate(handle.get(), MMDR_DEVICE_AUDIO)), FixtureMicrophones());
  }
  ExpectLogged(
      debug.Lines(),
      "DirectSound: EnableAInWasapi is off (machine store|count 2|released, count 0|"
      "reference taken, count 1: dsound.dll loaded|not listed, DirectSound's default-device");
}

// Fails the write that counts g_writesBeforeFailure down to 0; the others go through.
int g_writesBeforeFailure = 0;
LSTATUS APIENTRY FailingWriter(HKEY key, const wchar_t* name, DWORD reserved, DWORD type,
                               const BYTE* data, DWORD size) {
  if (--g_writesBeforeFailure == 0) return ERROR_INVALID_PARAMETER;
  return RegSetValueExW(key, name, reserved, type, data, size);
}

TEST(Preferences, AFailedWriteFailsTheCallAndAStoredIdStays) {
  SettingsScope scope;
  ScopedMmdrHandle handle;
  RegUtils::SetValueWriterForTesting(&FailingWriter);
  const ScopedLogThreshold debug;
  for (int failing : {1, 2}) {
    SettingsScope::PutText(Store::User, "srcWCamId", "old");
    SettingsScope::PutText(Store::User, "srcWCamName", "old");
    g_writesBeforeFailure = failing;
    EXPECT_EQ(Mmdr_SetPrefDev(handle.get(), 1, "new", "new"), MMDR_FAILED);
    EXPECT_EQ(SettingsScope::Read(Store::User, "srcWCamId"), failing == 1 ? "old" : "new")
        << "id first";
    EXPECT_EQ(SettingsScope::Read(Store::User, "srcWCamName"), "old");
    ExpectLogged(
        debug.Lines(),
        failing == 1
            ? "error prefs: RegUtils::SetString - Failed to store HKEY_CURRENT_USER\\Software\\"
              "Corvane\\Meridel\\Kestrel: srcWCamId with error 87"
            : "srcWCamId = 'new' stored|srcWCamName with error 87");
  }
  g_writesBeforeFailure = 1;
  EXPECT_EQ(Mmdr_SetAudioInSelectOption(handle.get(), 1), MMDR_FAILED);
  RegUtils::SetValueWriterForTesting(nullptr);
}

// Bytes the process's heaps hand out now (the runtime's, COM's and the system's).
std::int64_t HeapBytesInUse() {
  std::vector<HANDLE> heaps(GetProcessHeaps(0, nullptr) + 16);
  heaps.resize(GetProcessHeaps(static_cast<DWORD>(heaps.size()), heaps.data()));
  std::int64_t bytes = 0;
  for (HANDLE heap : heaps) {
    if (!HeapLock(heap)) continue;
    PROCESS_HEAP_ENTRY entry{};
    while (HeapWalk(heap, &entry)) {
      if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) bytes += entry.cbData;
    }
    HeapUnlock(heap);
  }
  return bytes;
}

TEST(Exports, HundredsOfSessionsLeaveNoMemoryBehind) {
  WebcamFixture webcams({{"Cam A", "pa"}, {"Cam B", "pb"}});
  // Descriptions that grow, so that DirectSound's scratch buffer grows within a listing.
  FakeDirectSound dsound(
      {{GUID{1}, L"Mic", L"IF1", 1}, {GUID{2}, std::wstring(99, L'm'), L"IF2", 2}});
  dsound.enumerateResult = E_FAIL;  // listed all the same; the lookup logs an error
  SettingsScope scope;
  SettingsScope::PutText(Store::User, "srcAudioInName", "In: Headset");
  auto sessions = [](int count) {
    for (int i = 0; i < count; ++i) {
      ScopedMmdrHandle handle;
      EXPECT_EQ(Enumerate(handle.get(), MMDR_DEVICE_VIDEO).size(), 2u);
      EXPECT_EQ(PreferredText(handle.get(), MMDR_DEVICE_AUDIO, MMDR_PREF_NAME), "In: Headset");
      SetSwitch(0);
      EXPECT_EQ(Enumerate(handle.get(), MMDR_DEVICE_AUDIO).size(), 2u);
      EXPECT_EQ(PreferredText(handle.get(), MMDR_DEVICE_AUDIO, MMDR_PREF_NAME), "code 11");
      SetSwitch(std::nullopt);
    }
  };
  sessions(20);  // the system's own caches fill up first
  const std::int64_t before = HeapBytesInUse();
  sessions(200);
  EXPECT_LT(HeapBytesInUse() - before, 200) << "one block a session, of any size, leaves more";
}

}  // namespace
}  // namespace kestrel_test
