#include "kinds/audio_capture_win.h"

#include "devices/dsound_lib.h"
#include "devices/endpoint_enumeration.h"
#include "prefs/user_prefs_util.h"

namespace AudioCaptureWin {

Start Init() {
  Start start;
  start.endpoints = UserPrefsUtil::IsAInWasapiEnabled();
  // The endpoint enumerator needs no preparation; DirectSound needs the shared instance.
  start.holdsDirectSound = !start.endpoints && DSoundLib::InitInstance();
  return start;
}

void Uninit(const Start& start) noexcept {
  if (start.holdsDirectSound) DSoundLib::UninitInstance();
}

bool EnumCaptureDevices(DeviceInfoList& list) {
  // One reading of the switch serves the whole enumeration: the back end started is the
  // one listed, and the stop releases what this start took even if the listing throws.
  struct StopAtExit {
    Start start;
    ~StopAtExit() { Uninit(start); }
  } started{Init()};
  return started.start.endpoints ? WinDeviceUtil::EnumCaptureDevices(list)
                                 : AudioCaptureWinDsound::EnumCaptureDevices(list);
}

}  // namespace AudioCaptureWin
