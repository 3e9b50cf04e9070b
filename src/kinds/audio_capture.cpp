#include "kinds/audio_capture.h"

#include "log/log.h"
#include "prefs/user_prefs_util.h"

namespace AudioCapture {

Start& Start::operator=(Start&& other) noexcept {
  if (this != &other) {
    Stop();
    primary_ = other.primary_;
    holdsLibrary_ = other.Take();
  }
  return *this;
}

void Start::Stop() noexcept {
  if (Take()) Platform::DropLibrary();
}

bool Start::Take() noexcept {
  const bool held = holdsLibrary_;
  holdsLibrary_ = false;
  return held;
}

Start Init() {
  Start start;
  UserPrefsUtil::SettingSource source = UserPrefsUtil::SettingSource::kDefault;
  start.primary_ = UserPrefsUtil::IsPrimaryAudioEnabled(&source);
  Log(kLogLevelTrivia, "%s - microphones from %s: EnableAInWasapi is %s (%s)", "AudioCapture::Init",
      start.primary_ ? Platform::kPrimaryName : Platform::kLibraryName,
      start.primary_ ? "on" : "off", UserPrefsUtil::SettingSourceName(source));
  // The primary back end needs no preparation; the library one needs the shared instance.
  start.holdsLibrary_ = !start.primary_ && Platform::TakeLibrary();
  return start;
}

bool EnumCaptureDevices(DeviceInfoList& list) {
  // One reading of the switch serves the whole enumeration: the back end started is the
  // one listed, and the start's reference goes on every way out.
  const Start started = Init();
  return started.primary() ? Platform::EnumPrimary(list) : Platform::EnumLibrary(list);
}

}  // namespace AudioCapture
