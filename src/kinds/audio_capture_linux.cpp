// Linux: the sound server through libpulse, or ALSA. (Placeholder until the enumerators
// land: lists nothing.)
#include "kinds/audio_capture.h"

namespace AudioCapture::Platform {

bool TakeLibrary() { return false; }
void DropLibrary() noexcept {}
bool EnumPrimary(DeviceInfoList& list) {
  list.clear();
  return true;
}
bool EnumLibrary(DeviceInfoList& list) {
  list.clear();
  return true;
}

}  // namespace AudioCapture::Platform
