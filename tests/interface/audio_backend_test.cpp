// Mmdr_Init and Mmdr_Uninit drive the audio back end. In a process of its own: Wine
// never unloads dsound.dll once loaded, so "not loaded yet" holds only in a fresh process.
#include <gtest/gtest.h>

#include "interface/mmdr_library.h"
#include "support/registry_scratch.h"

namespace kestrel_test {
namespace {

bool DirectSoundLoaded() {
  return GetModuleHandleW(L"dsound.dll") != nullptr;
}

TEST(MmdrAudioBackEnd, DirectSoundIsLoadedByInitOnlyWhenTheSwitchSelectsIt) {
  ScopedRegistryValue wasapi(HKEY_LOCAL_MACHINE, L"EnableAInWasapi");
  wasapi.Remove();
  ASSERT_FALSE(DirectSoundLoaded()) << "needs a fresh process";
  {
    ScopedMmdrHandle endpointsOnly;
    std::uint32_t count = 0;
    EXPECT_EQ(Mmdr().EnumDevices(endpointsOnly.get(), MMDR_DEVICE_AUDIO, 0, nullptr, &count),
              MMDR_BUFFER_TOO_SMALL);
    EXPECT_GT(count, 0u);
  }
  EXPECT_FALSE(DirectSoundLoaded()) << "the endpoint enumerator needs no DirectSound";

  wasapi.SetDword(0);
  MmdrHandle* handle = nullptr;
  ASSERT_EQ(Mmdr().Init(MMDR_MODE_2, &handle), MMDR_OK);
  EXPECT_TRUE(DirectSoundLoaded()) << "Mmdr_Init starts the DirectSound back end";
  std::uint32_t count = 0;
  EXPECT_EQ(Mmdr().EnumDevices(handle, MMDR_DEVICE_AUDIO, 0, nullptr, &count), MMDR_BUFFER_TOO_SMALL);
  EXPECT_GT(count, 0u);
  Mmdr().Uninit(handle);
}

}  // namespace
}  // namespace kestrel_test
