#pragma once

#include "devices/device_info.h"

class VideoInputWin {
 public:
  // Appends the DirectShow video input devices (webcams) to list. Always true.
  static bool EnumDevices(DeviceInfoList& list);
};
