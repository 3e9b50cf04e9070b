#include "kinds/audio_capture_win.h"

#include "devices/dsound_lib.h"
#include "devices/endpoint_enumeration.h"
#include "prefs/user_prefs_util.h"

namespace AudioCaptureWin {

Start& Start::operator=(Start&& other) noexcept {
  if (this != &other) {
    Stop();
    endpoints_ = other.endpoints_;
    holdsDirectSound_ = other.Take();
  }
  return *this;
}

void Start::Stop() noexcept {
  if (Take()) DSoundLib::UninitInstance();
}

bool Start::Take() noexcept {
  const bool held = holdsDirectSound_;
  holdsDirectSound_ = false;
  return held;
}

Start Init() {
  Start start;
  start.endpoints_ = UserPrefsUtil::IsAInWasapiEnabled();
  // The endpoint enumerator needs no preparation; DirectSound needs the shared instance.
  start.holdsDirectSound_ = !start.endpoints_ && DSoundLib::InitInstance();
  return start;
}

bool EnumCaptureDevices(DeviceInfoList& list) {
  // One reading of the switch serves the whole enumeration: the back end started is the
  // one listed, and the start's reference goes on every way out.
  const Start started = Init();
  return started.endpoints() ? WinDeviceUtil::EnumCaptureDevices(list)
                             : AudioCaptureWinDsound::EnumCaptureDevices(list);
}

}  // namespace AudioCaptureWin
