// V4L2 capture nodes. (Placeholder until the V4L2 enumerator lands: lists nothing.)
#include "devices/video_input.h"

bool VideoInput::EnumDevices(DeviceInfoList& /*list*/) { return true; }
