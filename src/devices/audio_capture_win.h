// Audio capture back-end selection: the machine-wide switch "EnableAInWasapi" picks the
// Core Audio endpoint enumerator (on, the default) or DirectSound (off). The switch is
// read afresh by each operation.
#pragma once

#include "devices/device_info.h"

namespace AudioCaptureWin {

// Starts the back end: with DirectSound, takes a reference on the shared instance
// (loading dsound.dll at the first). True when the back end is available.
bool Init();
// Stops the back end: with DirectSound, drops a reference (if one is held).
void Uninit();
// Init, the chosen enumerator (which clears list first), Uninit.
bool EnumCaptureDevices(DeviceInfoList& list);

}  // namespace AudioCaptureWin
