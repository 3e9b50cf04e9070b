#include "kinds/device_kinds.h"

#include "kinds/audio_capture.h"
#include "devices/video_input.h"

namespace {

RwLock g_webcamPairLock;
RwLock g_microphonePairLock;

const DeviceKind kDeviceKinds[] = {
    {MMDR_DEVICE_VIDEO, &VideoInput::EnumDevices, L"srcWCamId", L"srcWCamName", false,
     "UserPrefsUtil::PreferredWCamDeviceInfo", &g_webcamPairLock},
    {MMDR_DEVICE_AUDIO, &AudioCapture::EnumCaptureDevices, L"srcAudioInId", L"srcAudioInName", true,
     "UserPrefsUtil::PreferredAInDeviceInfo", &g_microphonePairLock},
};

}  // namespace

const DeviceKind* FindDeviceKind(MmdrDeviceKind code) {
  for (const DeviceKind& kind : kDeviceKinds) {
    if (kind.code == code) return &kind;
  }
  return nullptr;
}
