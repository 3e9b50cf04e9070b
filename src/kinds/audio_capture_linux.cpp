// Linux: the sound server through libpulse, or ALSA; both loaded at run time.
#include "kinds/audio_capture.h"

#include <chrono>

#include "devices/alsa_lib_linux.h"
#include "devices/sound_server_linux.h"
#include "log/log.h"

namespace AudioCapture::Platform {
namespace {

// A reference on the shared ALSA instance for one enumeration of the sound-server path.
class AlsaReference {
 public:
  AlsaReference() : held_(AlsaLib::InitInstance()) {}
  ~AlsaReference() {
    if (held_) AlsaLib::UninitInstance();
  }
  AlsaReference(const AlsaReference&) = delete;
  AlsaReference& operator=(const AlsaReference&) = delete;
  AlsaReference(AlsaReference&&) = delete;
  AlsaReference& operator=(AlsaReference&&) = delete;
  bool held() const { return held_; }

 private:
  bool held_;
};

}  // namespace

const char* const kPrimaryName = "the sound server";
const char* const kLibraryName = "ALSA";

bool TakeLibrary() { return AlsaLib::InitInstance(); }
void DropLibrary() noexcept { AlsaLib::UninitInstance(); }

bool EnumPrimary(DeviceInfoList& list) {
  // The wait is timed only for a reader of the log.
  using Clock = std::chrono::steady_clock;
  const bool timed = LogWants(kLogLevelTrivia);
  const Clock::time_point start = timed ? Clock::now() : Clock::time_point();
  switch (SoundServer::EnumCaptureDevices(list)) {
    case SoundServer::Listing::kListed: return true;
    case SoundServer::Listing::kFailed: return false;
    case SoundServer::Listing::kNoServer: break;
  }
  // No server answered: what ALSA lists instead, as a machine without one would.
  if (timed) {
    const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
    Log(kLogLevelTrivia, "%s - no sound server answered (waited %lld ms): ALSA lists instead",
        "AudioCapture::EnumPrimary", static_cast<long long>(waited.count()));
  }
  const AlsaReference alsa;
  return alsa.held() && AlsaLib::EnumCaptureDevices(list);
}

bool EnumLibrary(DeviceInfoList& list) { return AlsaLib::EnumCaptureDevices(list); }

}  // namespace AudioCapture::Platform
