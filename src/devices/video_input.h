// Webcams: DirectShow's video input devices on Windows, V4L2 capture nodes on Linux.
#pragma once

#include "devices/device_info.h"

namespace VideoInput {

// Appends the webcams present to list, in the system's order. True unless the listing
// itself could not start; a device that cannot be read is skipped.
bool EnumDevices(DeviceInfoList& list);

}  // namespace VideoInput
