// Runs with dsound.dll disabled in Wine: the DirectSound back end cannot start.
#include <gtest/gtest.h>

#include "interface/mmdr_library.h"
#include "log/log.h"
#include "prefs/user_prefs_util.h"
#include "support/log_capture.h"
#include "support/registry_scratch.h"

namespace kestrel_test {
namespace {

TEST(DirectSoundUnavailable, InitStillSucceedsAndTheMicrophoneLookupReportsTheFailedEnumeration) {
  ScopedRegistryValue wasapi(HKEY_LOCAL_MACHINE, L"EnableAInWasapi");
  ScopedRegistryValue micName(HKEY_CURRENT_USER, L"srcAudioInName");
  ScopedRegistryValue micId(HKEY_CURRENT_USER, L"srcAudioInId");
  wasapi.SetDword(0);
  micId.SetString(L"any");
  micName.SetString(L"In: DeskMic");

  MmdrHandle* handle = nullptr;
  ASSERT_EQ(Mmdr().Init(MMDR_MODE_1, &handle), MMDR_OK);
  EXPECT_EQ(Mmdr().IsValid(handle), MMDR_OK);
  std::uint32_t count = 77;
  EXPECT_EQ(Mmdr().EnumDevices(handle, MMDR_DEVICE_AUDIO, 0, nullptr, &count), MMDR_OK);
  EXPECT_EQ(count, 0u) << "a failed enumeration shows as no device";
  char text[MMDR_TEXT_FIELD_SIZE] = {};
  EXPECT_EQ(Mmdr().GetPrefDev(handle, MMDR_DEVICE_AUDIO, MMDR_PREF_NAME, text), MMDR_NO_DATA);
  Mmdr().Uninit(handle);

  // Inside the library: one error line, recorded without raising the threshold.
  DrainLibraryLog();
  EXPECT_TRUE(UserPrefsUtil::PreferredAInDeviceInfo().name.empty());
  bool found = false;
  for (const CapturedLogRecord& record : DrainLibraryLog()) {
    if (record.text.find("UserPrefsUtil::PreferredAInDeviceInfo - Failed to enum the device.") !=
        std::string::npos) {
      EXPECT_EQ(record.level, kLogLevelError);
      found = true;
    }
  }
  EXPECT_TRUE(found);
}

}  // namespace
}  // namespace kestrel_test
