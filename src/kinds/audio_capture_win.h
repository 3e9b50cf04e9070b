// Audio capture back-end selection: the machine-wide switch "EnableAInWasapi" picks the
// Core Audio endpoint enumerator (on, the default) or DirectSound (off).
#pragma once

#include "devices/device_info.h"

namespace AudioCaptureWin {

// One start of the back end: which back end the switch chose at that moment, and the
// reference on the shared DirectSound instance that this start took, if any. The
// reference is the Start's own: it goes when the Start is stopped or destroyed,
// whatever the switch says by then, and moves with it. Move-only.
class Start {
 public:
  Start() = default;
  ~Start() { Stop(); }
  Start(Start&& other) noexcept : endpoints_(other.endpoints_), holdsDirectSound_(other.Take()) {}
  Start& operator=(Start&& other) noexcept;
  Start(const Start&) = delete;
  Start& operator=(const Start&) = delete;

  bool endpoints() const { return endpoints_; }
  bool holdsDirectSound() const { return holdsDirectSound_; }
  // Drops the DirectSound reference, if this start holds one.
  void Stop() noexcept;

 private:
  friend Start Init();
  bool Take() noexcept;  // hands the reference over: true when there was one

  bool endpoints_ = true;
  bool holdsDirectSound_ = false;
};

// Reads the switch; with DirectSound, takes a reference on the shared instance (loading
// dsound.dll at the first). A load that fails takes nothing. May throw std::bad_alloc,
// having taken nothing.
Start Init();
// Init, the enumerator it chose (which clears list first), and the stop of that start.
bool EnumCaptureDevices(DeviceInfoList& list);

}  // namespace AudioCaptureWin
