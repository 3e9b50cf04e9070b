// Wine without any audio driver (the CTest entry disables winealsa and winepulse):
// neither audio back end can list anything, and each says so.
#include <gtest/gtest.h>

#include "devices/audio_capture_win.h"
#include "devices/device_test_util.h"
#include "devices/dsound_lib.h"
#include "devices/win_device_util.h"
#include "log/log.h"
#include "support/log_capture.h"
#include "support/registry_scratch.h"

namespace kestrel_test {
namespace {

TEST(NoAudioDriverTest, EndpointEnumeratorCannotBeCreated) {
  DrainLibraryLog();
  DeviceInfoList list(1);
  EXPECT_FALSE(WinDeviceUtil::EnumCaptureDevices(list));
  EXPECT_TRUE(list.empty());
  const auto errors = LogLinesAtLevel(DrainLibraryLog(), kLogLevelError);
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_NE(errors[0].find("WinDeviceUtil::EnumCaptureDevices - failed to call CoCreateInstance, "
                           "error: 80040154."),
            std::string::npos)
      << errors[0];
}

TEST(NoAudioDriverTest, DirectSoundEnumerationFailsAndStillUnloads) {
  ScopedRegistryValue wasapi(HKEY_LOCAL_MACHINE, L"EnableAInWasapi");
  wasapi.SetDword(0);
  DeviceInfoList list(1);
  EXPECT_FALSE(AudioCaptureWin::EnumCaptureDevices(list));
  EXPECT_TRUE(list.empty());
  EXPECT_EQ(DSoundLib::ReferenceCount(), 0);
  EXPECT_EQ(DSoundLib::GetInstance(), nullptr);
}

}  // namespace
}  // namespace kestrel_test
