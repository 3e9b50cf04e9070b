#include "devices/audio_capture_win.h"

#include "devices/dsound_lib.h"
#include "devices/win_device_util.h"
#include "prefs/user_prefs_util.h"

// The switch is read afresh by each operation, so a change takes effect at the next
// call; a stop that finds no DirectSound reference held does nothing.
namespace AudioCaptureWin {

namespace {

// The endpoint enumerator needs no preparation; DirectSound needs a reference on the
// shared instance.
bool StartBackEnd(bool endpointsSelected) {
  return endpointsSelected || DSoundLib::InitInstance();
}

void StopBackEnd(bool endpointsSelected) {
  if (!endpointsSelected) DSoundLib::UninitInstance();
}

}  // namespace

bool Init() { return StartBackEnd(UserPrefsUtil::IsAInWasapiEnabled()); }

void Uninit() { StopBackEnd(UserPrefsUtil::IsAInWasapiEnabled()); }

bool EnumCaptureDevices(DeviceInfoList& list) {
  // One reading of the switch serves the whole enumeration: the back end started is the
  // one listed and the one stopped, so a switch changed during the call can neither
  // strand a DirectSound reference nor list from a back end that was never started.
  // It also saves two registry round trips per enumeration.
  const bool endpointsSelected = UserPrefsUtil::IsAInWasapiEnabled();
  StartBackEnd(endpointsSelected);  // a failed start shows up in the enumeration's result
  const bool listed = endpointsSelected ? WinDeviceUtil::EnumCaptureDevices(list)
                                        : AudioCaptureWinDsound::EnumCaptureDevices(list);
  StopBackEnd(endpointsSelected);
  return listed;
}

}  // namespace AudioCaptureWin
