#include "kinds/device_kinds.h"

#include "kinds/audio_capture_win.h"
#include "devices/video_input_win.h"

namespace {

SrwLock g_webcamPairLock;
SrwLock g_microphonePairLock;

const DeviceKind kDeviceKinds[] = {
    {MMDR_DEVICE_VIDEO, &VideoInputWin::EnumDevices, L"srcWCamId", L"srcWCamName", false,
     "UserPrefsUtil::PreferredWCamDeviceInfo", &g_webcamPairLock},
    {MMDR_DEVICE_AUDIO, &AudioCaptureWin::EnumCaptureDevices, L"srcAudioInId", L"srcAudioInName",
     true, "UserPrefsUtil::PreferredAInDeviceInfo", &g_microphonePairLock},
};

}  // namespace

const DeviceKind* FindDeviceKind(MmdrDeviceKind code) {
  for (const DeviceKind& kind : kDeviceKinds) {
    if (kind.code == code) return &kind;
  }
  return nullptr;
}
