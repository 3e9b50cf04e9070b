// Microphones from ALSA's name hints. libasound.so.2 is loaded at run time and shared: one
// AlsaLib instance holds it from the first reference to the last, as a handle opened with
// ALSA selected keeps it until its own Mmdr_Uninit.
#pragma once

#include <cstdint>
#include <memory>

#include "core/rw_lock.h"
#include "core/scoped_library_posix.h"
#include "devices/device_info.h"

struct AlsaApi;  // the table of libasound functions, alsa_lib_linux.cpp

// One lock, lock_: exclusive for the instance's creation at the first reference and its
// destruction at the last, shared for enumerations, which may run side by side (alsa-lib
// serialises its own configuration) but never under an unload.
class AlsaLib {
 public:
  // Takes a reference; the first loads libasound.so.2. True when it took one. A failed
  // load leaves no instance, no reference and no library behind; the next call tries again.
  // May throw std::bad_alloc, having taken nothing.
  static bool InitInstance();
  // Drops a reference (none held: nothing). The last frees what alsa-lib cached (its
  // configuration, its plug-ins) and unloads the library, unless the host had loaded
  // alsa-lib before the first: then alsa-lib stays as the host has it.
  static void UninitInstance() noexcept;
  // Clears list and fills it from the PCM name hints through the shared instance: false
  // without one. A configuration alsa-lib cannot read lists nothing and is still true.
  // alsa-lib's messages go to the log, never to stderr.
  static bool EnumCaptureDevices(DeviceInfoList& list);

  // One name hint into the list (the enumeration's step, public for tests): skipped when
  // its IOID is "Output", when it names a generic plug-in or alias, or when it names a
  // card device already listed. A card device is listed once, as hw:CARD=<id>,DEV=<n>,
  // whichever plug-in's hint names it; the name is the first line of the description
  // (none: the id). Each hint's outcome, and why, is a debug line.
  static void AddHint(DeviceInfoList& list, const char* name, const char* description,
                      const char* ioid);

  AlsaLib(const AlsaLib&) = delete;
  AlsaLib& operator=(const AlsaLib&) = delete;
  AlsaLib(AlsaLib&&) = delete;
  AlsaLib& operator=(AlsaLib&&) = delete;
  ~AlsaLib();  // only under lock_

 private:
  AlsaLib();
  static bool LoadLocked(AlsaLib& instance) REQUIRES(lock_);
  static bool EnumCaptureDevicesLocked(const AlsaLib& instance, DeviceInfoList& list)
      REQUIRES_SHARED(lock_);

  static RwLock lock_;
  static AlsaLib* instance_ GUARDED_BY(lock_);
  static std::int32_t referenceCount_ GUARDED_BY(lock_);

  ScopedLibrary library_ GUARDED_BY(lock_);
  std::unique_ptr<AlsaApi> api_ GUARDED_BY(lock_);
  // libasound.so.2 was in the process before this instance loaded it (the host uses it).
  bool sharedWithHost_ GUARDED_BY(lock_) = false;
};
