// Audio capture back-end selection: the machine-wide switch "EnableAInWasapi" picks the
// Core Audio endpoint enumerator (on, the default) or DirectSound (off).
#pragma once

#include "devices/device_info.h"

namespace AudioCaptureWin {

// What one start of the back end did: which back end the switch chose at that moment,
// and whether this start holds a reference on the shared DirectSound instance. A
// reference belongs to the start that took it: only its own Uninit drops it.
struct Start {
  bool endpoints = true;
  bool holdsDirectSound = false;
};

// Reads the switch; with DirectSound, takes a reference on the shared instance (loading
// dsound.dll at the first). A load that fails takes nothing. May throw std::bad_alloc,
// having taken nothing.
Start Init();
// Drops the reference that start holds, if any, whatever the switch says now.
void Uninit(const Start& start) noexcept;
// Init, the enumerator it chose (which clears list first), Uninit of that start.
bool EnumCaptureDevices(DeviceInfoList& list);

}  // namespace AudioCaptureWin
