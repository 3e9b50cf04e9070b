// Audio capture back-end selection. The machine-wide switch "EnableAInWasapi" picks the
// primary back end (on, the default: Core Audio endpoints on Windows, the sound server
// on Linux) or the library back end (off: DirectSound on Windows, ALSA on Linux), whose
// system library is loaded at run time and shared by reference.
#pragma once

#include "devices/device_info.h"

namespace AudioCapture {

// One start of the back end: which back end the switch chose at that moment, and the
// reference on the shared library instance that this start took, if any. The
// reference is the Start's own: it goes when the Start is stopped or destroyed,
// whatever the switch says by then, and moves with it. Move-only.
class Start {
 public:
  Start() = default;
  ~Start() { Stop(); }
  Start(Start&& other) noexcept : primary_(other.primary_), holdsLibrary_(other.Take()) {}
  Start& operator=(Start&& other) noexcept;
  Start(const Start&) = delete;
  Start& operator=(const Start&) = delete;

  bool primary() const { return primary_; }
  bool holdsLibrary() const { return holdsLibrary_; }
  // Drops the library reference, if this start holds one.
  void Stop() noexcept;

 private:
  friend Start Init();
  bool Take() noexcept;  // hands the reference over: true when there was one

  bool primary_ = true;
  bool holdsLibrary_ = false;
};

// Reads the switch; with the library back end, takes a reference on the shared instance
// (loading the library at the first). A load that fails takes nothing. May throw
// std::bad_alloc, having taken nothing.
Start Init();
// Init, the enumerator it chose (which clears list first), and the stop of that start.
bool EnumCaptureDevices(DeviceInfoList& list);

// What each platform supplies (audio_capture_win.cpp, audio_capture_linux.cpp).
namespace Platform {
extern const char* const kPrimaryName;  // the back ends as log lines name them
extern const char* const kLibraryName;
bool TakeLibrary();                      // a reference on the shared instance; false: none
void DropLibrary() noexcept;             // gives back a reference TakeLibrary took
bool EnumPrimary(DeviceInfoList& list);  // clears list first
bool EnumLibrary(DeviceInfoList& list);  // through the shared instance; clears list first
}  // namespace Platform

}  // namespace AudioCapture
