#include "devices/audio_capture_win.h"

#include "devices/dsound_lib.h"
#include "devices/win_device_util.h"
#include "prefs/user_prefs_util.h"

// The switch is read afresh by each operation, so a change takes effect at the next
// call; a stop that finds no DirectSound reference held does nothing.
namespace AudioCaptureWin {

bool Init() {
  if (UserPrefsUtil::IsAInWasapiEnabled()) return true;
  return DSoundLib::InitInstance();
}

void Uninit() {
  if (UserPrefsUtil::IsAInWasapiEnabled()) return;
  DSoundLib::UninitInstance();
}

bool EnumCaptureDevices(DeviceInfoList& list) {
  Init();  // a failed start shows up in the enumeration's own result
  const bool listed = UserPrefsUtil::IsAInWasapiEnabled()
                          ? WinDeviceUtil::EnumCaptureDevices(list)
                          : AudioCaptureWinDsound::EnumCaptureDevices(list);
  Uninit();
  return listed;
}

}  // namespace AudioCaptureWin
