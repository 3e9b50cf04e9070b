// The audio back end as handles and enumerations start and stop it, through the exports
// with a fake dsound.dll.
#include <gtest/gtest.h>

#include "devices/dsound_lib.h"
#include "support/devices.h"
#include "support/fake_dsound_win.h"
#include "support/registry_scope_win.h"

namespace kestrel_test {
namespace {

const GUID kMicGuid = {0x11111111, 1, 1, {1, 1, 1, 1, 1, 1, 1, 1}};
const std::vector<Entry> kFakeMics = {{"IF1", "Fake Mic"}};

void SetSwitch(std::optional<DWORD> value) {
  KestrelRegistryScope::Remove(HKEY_LOCAL_MACHINE, L"EnableAInWasapi");
  if (value) KestrelRegistryScope::PutDword(HKEY_LOCAL_MACHINE, L"EnableAInWasapi", *value);
}

// References held on the shared DirectSound instance, and whether dsound.dll is loaded.
std::pair<int, bool> DirectSoundHeld() {
  EXPECT_EQ(DSoundLib::GetInstanceForTesting() != nullptr,
            DSoundLib::ReferenceCountForTesting() > 0);
  return {DSoundLib::ReferenceCountForTesting(), FakeDirectSound::StandInLoaded()};
}

TEST(AudioBackEnd, AHandleHoldsDirectSoundWhenItsInitTookItUntilItsOwnUninit) {
  KestrelRegistryScope scope;
  FakeDirectSound fake({{kMicGuid, L"Fake Mic", L"IF1", 1}});
  MmdrHandle *a = nullptr, *b = nullptr;
  ASSERT_EQ(Mmdr_Init(1, &a), MMDR_OK);  // switch absent: endpoints; a takes nothing
  EXPECT_EQ(SortedNames(Enumerate(a, 2)), FixtureMicrophones());
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
  KestrelRegistryScope scope;
  KestrelRegistryScope::PutString(HKEY_CURRENT_USER, L"srcAudioInName", L"Fake Mic");
  ScopedMmdrHandle opened;  // switch absent: the handle takes nothing
  SetSwitch(0);
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

}  // namespace
}  // namespace kestrel_test
