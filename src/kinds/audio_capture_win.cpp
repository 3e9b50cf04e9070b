// Windows: Core Audio endpoints, or DirectSound loaded at run time.
#include "kinds/audio_capture.h"

#include "devices/dsound_lib.h"
#include "devices/endpoint_enumeration.h"

namespace AudioCapture::Platform {

const char* const kPrimaryName = "Core Audio endpoints";
const char* const kLibraryName = "DirectSound";

bool TakeLibrary() { return DSoundLib::InitInstance(); }
void DropLibrary() noexcept { DSoundLib::UninitInstance(); }
bool EnumPrimary(DeviceInfoList& list) { return WinDeviceUtil::EnumCaptureDevices(list); }
bool EnumLibrary(DeviceInfoList& list) { return AudioCaptureWinDsound::EnumCaptureDevices(list); }

}  // namespace AudioCapture::Platform
