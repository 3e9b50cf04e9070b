// Audio capture devices through DirectSound, which is loaded at run time. One shared
// DSoundLib instance holds dsound.dll and its private property object from the first
// reference to the last. This header does not include dsound.h, so that it can sit next
// to the DirectShow headers, whose IKsPropertySet differs from DirectSound's.
#pragma once

#include <windows.h>
#include <wrl/client.h>

#include <cstdint>
#include <string>

#include "core/data_buffer.h"
#include "core/scoped_handle_win.h"
#include "core/rw_lock.h"
#include "devices/device_info.h"

struct IKsPropertySet;  // DirectSound's flavour; complete only in dsound_lib_win.cpp

// How DSoundLib reaches dsound.dll. The system loader loads it from the system
// directory only; tests substitute their own to inject faults.
struct DSoundModuleLoader {
  HMODULE (*load)();  // a new reference on dsound.dll, or null with the last error set
  FARPROC (*resolve)(HMODULE module, const char* exportName);
};

// One lock, lock_, serialises the instance's creation at the first reference, its
// destruction at the last, and every enumeration: so two threads can neither load twice,
// nor free the library under a running enumeration, nor share the scratch buffer and
// target list. Each public operation takes it once; the ...Locked helpers run under it.
class DSoundLib {
 public:
  using CaptureEnumCallbackFn = BOOL(CALLBACK*)(GUID* deviceGuid, const wchar_t* description,
                                                const wchar_t* module, void* context);
  using CaptureEnumerateFn = HRESULT(WINAPI*)(CaptureEnumCallbackFn callback, void* context);

  // Takes a reference; the first creates the instance and loads dsound.dll. True when
  // it took one. A failed load, or an exception from it, leaves no instance, no
  // reference and no module behind.
  static bool InitInstance();
  // Drops a reference (none held: nothing); the last destroys the instance.
  static void UninitInstance() noexcept;
  // Per-device step of the enumeration; context is the instance. Always TRUE.
  // DirectSound calls it from within captureEnumerate on the enumerating thread, which
  // holds lock_.
  static BOOL CALLBACK CaptureEnumCallback(GUID* deviceGuid, const wchar_t* description,
                                           const wchar_t* module, void* context) REQUIRES(lock_);

  // Test-only: the shared instance (null without a reference) and its reference count.
  static DSoundLib* GetInstanceForTesting();
  static std::int32_t ReferenceCountForTesting();
  // Test-only: replaces how dsound.dll is loaded and its exports resolved; null puts
  // the system loader back. Call only while no instance exists.
  static void SetModuleLoaderForTesting(const DSoundModuleLoader* loader);

  DSoundLib(const DSoundLib&) = delete;
  DSoundLib& operator=(const DSoundLib&) = delete;

  bool loaded GUARDED_BY(lock_) = false;
  ScopedModule module GUARDED_BY(lock_);
  Microsoft::WRL::ComPtr<IKsPropertySet> privateProps GUARDED_BY(lock_);
  CaptureEnumerateFn captureEnumerate GUARDED_BY(lock_) = nullptr;
  DataBuffer propData GUARDED_BY(lock_);  // scratch for descriptions; only grows
  // The list of the enumeration in progress.
  DeviceInfoList* targetList GUARDED_BY(lock_) = nullptr;

 private:
  friend class AudioCaptureWinDsound;  // enumerates the shared instance under lock_

  DSoundLib();
  ~DSoundLib();  // only under lock_

  // Loads dsound.dll and its private property object into a new instance.
  static bool LoadDSoundLibLocked(DSoundLib* instance) REQUIRES(lock_);
  static void UnloadDSoundLibLocked(DSoundLib* instance) noexcept REQUIRES(lock_);
  // Runs DirectSound's capture enumeration, appending one record per described device.
  static bool EnumCaptureDevicesLocked(DSoundLib* instance, DeviceInfoList& list) REQUIRES(lock_);

  static RwLock lock_;
  static DSoundLib* instance_ GUARDED_BY(lock_);
  static std::int32_t referenceCount_ GUARDED_BY(lock_);
  static const DSoundModuleLoader* loader_ GUARDED_BY(lock_);
};

class AudioCaptureWinDsound {
 public:
  // Clears list and fills it from the shared instance; false without one.
  static bool EnumCaptureDevices(DeviceInfoList& list);
};

// "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}" in lower-case hexadecimal.
std::wstring ConvertGuidToString(const GUID& guid);
