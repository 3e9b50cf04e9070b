// The exported functions. They check their arguments in a fixed order and turn the
// outcome of the library's operations into result codes. The operations they call log
// their own failures; these log only what becomes a failure here (an exception, an
// option out of range). No exception leaves this file.
#ifndef MMDR_BUILDING_LIBRARY
#define MMDR_BUILDING_LIBRARY  // the export list names the exports; no dllimport here
#endif
// Its lines name the interface wherever it is compiled: into the library, or into a test
// program beside the test's own sources (which log as "kestrel").
#define KESTREL_LOG_SUBSYSTEM "interface"
#include "kestrelCliLib.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "core/utf8.h"
#include "devices/device_info.h"
#include "interface/mmdr_handle.h"
#include "interface/mmdr_output.h"
#include "kinds/audio_capture.h"
#include "kinds/device_kinds.h"
#include "kinds/preferred_device.h"
#include "log/log.h"
#include "log/log_output.h"
#include "prefs/user_prefs_util.h"

static_assert(MMDR_LIB_VERSION == KESTREL_VERSION_MAJOR,
              "MMDR_LIB_VERSION in kestrelCliLib.h must be the major version in CMakeLists.txt");

namespace {

// Runs the body of the exported call named function: an allocation failure becomes
// MMDR_OUT_OF_MEMORY, any other exception MMDR_FAILED.
template <typename Body>
MmdrResult Guarded(const char* function, Body&& body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    Log(kLogLevelError, "%s - out of memory", function);
    return MMDR_OUT_OF_MEMORY;
  } catch (...) {
    Log(kLogLevelError, "%s - failed: an unexpected exception", function);
    return MMDR_FAILED;
  }
}

}  // namespace

extern "C" {

MmdrResult MMDR_CALL Mmdr_Init(std::int32_t mode, MmdrHandle** handleOut) {
  return Guarded("Mmdr_Init", [&]() -> MmdrResult {
    if (handleOut == nullptr) {
      return MMDR_INVALID_ARGUMENT;
    }
    if (mode != MMDR_MODE_1 && mode != MMDR_MODE_2) {
      return MMDR_INVALID_MODE;
    }
    // Read here rather than at load: a host may set it (as mmdrctl --log does) before it
    // opens a handle, and the back end's start below is already worth a line.
    LogFollowEnvironment();
    // Freed again on every way out but success.
    std::unique_ptr<MmdrHandle, void (*)(MmdrHandle*)> handle(MmdrCreateHandle(mode),
                                                              &MmdrReleaseHandle);
    if (!handle) {
      Log(kLogLevelError, "%s - out of memory for the handle", "Mmdr_Init");
      return MMDR_OUT_OF_MEMORY;
    }
    // A back end that cannot start is retried by every audio enumeration; the handle is
    // good all the same. A library reference this start took is this handle's.
    MmdrOpenHandle(handle.get(), AudioCapture::Init());
    *handleOut = handle.release();
    return MMDR_OK;
  });
}

void MMDR_CALL Mmdr_Uninit(MmdrHandle* handle) {
  // Closed before the block goes, so a new handle at the same address starts afresh,
  // and a second close finds nothing to do. The back end stops as backEnd goes.
  AudioCapture::Start backEnd;
  std::shared_ptr<DeviceWatch> watch;
  if (!MmdrCloseHandle(handle, &backEnd, &watch)) {
    return;
  }
  // A watch waiting on another thread ends now and frees what it holds as it returns;
  // otherwise it goes with this reference.
  watch->Close();
  MmdrReleaseHandle(handle);
}

MmdrResult MMDR_CALL Mmdr_IsValid(MmdrHandle* handle) {
  return MmdrCheckHandle(handle) ? MMDR_OK : MMDR_INVALID_HANDLE;
}

std::uint32_t MMDR_CALL Mmdr_GetLibVersion(void) { return MMDR_LIB_VERSION; }

MmdrResult MMDR_CALL Mmdr_IsEnabled(MmdrHandle* handle, std::uint8_t* enabledOut) {
  return Guarded("Mmdr_IsEnabled", [&]() -> MmdrResult {
    if (!MmdrCheckHandle(handle)) {
      return MMDR_INVALID_HANDLE;
    }
    if (enabledOut == nullptr) {
      return MMDR_NO_DATA;
    }
    *enabledOut = UserPrefsUtil::IsFeatureEnabled() ? 1 : 0;
    return MMDR_OK;
  });
}

MmdrResult MMDR_CALL Mmdr_EnumDevices(MmdrHandle* handle, MmdrDeviceKind kind,
                                      std::uint32_t bufferSize, void* buffer,
                                      std::uint32_t* countOut) {
  return Guarded("Mmdr_EnumDevices", [&]() -> MmdrResult {
    const DeviceKind* deviceKind = FindDeviceKind(kind);
    if (deviceKind == nullptr) {
      return MMDR_INVALID_ARGUMENT;
    }
    if (!MmdrCheckHandle(handle)) {
      return MMDR_INVALID_HANDLE;
    }
    if (countOut == nullptr) {
      return MMDR_INVALID_ARGUMENT;
    }
    // A failed or partial enumeration simply yields the records the list holds.
    DeviceInfoList devices;
    deviceKind->enumerate(devices);
    // What this handle saw, for its next watch. (Open was checked above: a close since
    // then leaves no watch to tell.)
    if (const auto watch = MmdrHandleWatch(handle)) watch->Saw(kind, devices);
    const auto count = static_cast<std::uint32_t>(devices.size());
    *countOut = count;
    if (count == 0) {
      return MMDR_OK;
    }
    if (buffer == nullptr || !MmdrEntriesFit(count, bufferSize)) {
      return MMDR_BUFFER_TOO_SMALL;
    }
    // Nothing from here on allocates or fails: the buffer is written whole.
    auto* entries = static_cast<MmdrDeviceEntry*>(buffer);
    for (std::uint32_t i = 0; i < count; ++i) {
      CopyWideToTextField(devices[i].id, entries[i].id);
      CopyWideToTextField(devices[i].name, entries[i].name);
    }
    return MMDR_OK;
  });
}

MmdrResult MMDR_CALL Mmdr_GetPrefDev(MmdrHandle* handle, MmdrDeviceKind kind, MmdrPrefField field,
                                     char* textOut) {
  return Guarded("Mmdr_GetPrefDev", [&]() -> MmdrResult {
    if (!MmdrCheckHandle(handle)) {
      return MMDR_INVALID_HANDLE;
    }
    if (textOut == nullptr) {
      return MMDR_NO_DATA;
    }
    const DeviceKind* deviceKind = FindDeviceKind(kind);
    if (deviceKind == nullptr) {
      return MMDR_INVALID_DEVICE_KIND;
    }
    if (field != MMDR_PREF_NAME && field != MMDR_PREF_ID) {
      return MMDR_INVALID_FIELD;
    }
    const DeviceInfo device = UserPrefsUtil::PreferredDeviceInfo(*deviceKind);
    const std::wstring& text = field == MMDR_PREF_ID ? device.id : device.name;
    if (text.empty()) {
      return MMDR_NO_DATA;
    }
    // Convert before touching textOut so that a failure leaves it as it was.
    const std::string utf8 = ConvertWideToUtf8(text.c_str());
    CopyToTextField(utf8, textOut);
    return MMDR_OK;
  });
}

MmdrResult MMDR_CALL Mmdr_SetPrefDev(MmdrHandle* handle, MmdrDeviceKind kind, const char* id,
                                     const char* name) {
  return Guarded("Mmdr_SetPrefDev", [&]() -> MmdrResult {
    if (!MmdrCheckHandle(handle)) {
      return MMDR_INVALID_HANDLE;
    }
    const DeviceKind* deviceKind = FindDeviceKind(kind);
    if (deviceKind == nullptr) {
      return MMDR_INVALID_DEVICE_KIND;
    }
    // A null text stands for the empty one. Where the kind says so (a microphone), a name
    // goes only with a non-empty id: without one, both clear.
    const bool keepName = !deviceKind->nameNeedsId || (id != nullptr && id[0] != '\0');
    return UserPrefsUtil::SetPreferredPair(*deviceKind, ConvertUtf8ToWide(id),
                                           keepName ? ConvertUtf8ToWide(name) : std::wstring())
               ? MMDR_OK
               : MMDR_FAILED;
  });
}

MmdrResult MMDR_CALL Mmdr_GetAudioInSelectOption(MmdrHandle* handle, std::uint32_t* optionOut) {
  return Guarded("Mmdr_GetAudioInSelectOption", [&]() -> MmdrResult {
    if (!MmdrCheckHandle(handle)) {
      return MMDR_INVALID_HANDLE;
    }
    if (optionOut == nullptr) {
      return MMDR_NO_DATA;
    }
    // The number is delivered even when out of range, so the caller sees what is stored.
    const std::uint32_t option = UserPrefsUtil::GetAudioInOption();
    *optionOut = option;
    if (option > 2) {
      Log(kLogLevelError, "%s - the stored option %u is outside 0..2",
          "Mmdr_GetAudioInSelectOption", static_cast<unsigned>(option));
      return MMDR_FAILED;
    }
    return MMDR_OK;
  });
}

MmdrResult MMDR_CALL Mmdr_SetAudioInSelectOption(MmdrHandle* handle, std::uint32_t option) {
  return Guarded("Mmdr_SetAudioInSelectOption", [&]() -> MmdrResult {
    if (!MmdrCheckHandle(handle)) {
      return MMDR_INVALID_HANDLE;
    }
    return UserPrefsUtil::SetAudioInOption(option) ? MMDR_OK : MMDR_FAILED;
  });
}

MmdrResult MMDR_CALL Mmdr_WatchDevices(MmdrHandle* handle, std::uint32_t kinds,
                                       std::uint32_t timeoutMs, std::uint32_t* changedOut) {
  return Guarded("Mmdr_WatchDevices", [&]() -> MmdrResult {
    const std::shared_ptr<DeviceWatch> watch = MmdrHandleWatch(handle);
    if (!watch) {
      return MMDR_INVALID_HANDLE;
    }
    if (changedOut == nullptr) {
      return MMDR_NO_DATA;
    }
    if (kinds == 0 || (kinds & ~static_cast<std::uint32_t>(MMDR_WATCH_ALL)) != 0) {
      return MMDR_INVALID_ARGUMENT;
    }
    *changedOut = 0;
    std::uint32_t changed = 0;
    switch (watch->Watch(kinds, std::chrono::milliseconds(timeoutMs), changed)) {
      case DeviceWatch::Outcome::kDone:
        *changedOut = changed;
        if (changed != 0) {
          Log(kLogLevelVerbose, "%s - reports kinds 0x%x", "Mmdr_WatchDevices",
              static_cast<unsigned>(changed));
        }
        return MMDR_OK;
      case DeviceWatch::Outcome::kClosed: return MMDR_INVALID_HANDLE;
      case DeviceWatch::Outcome::kFailed: break;
    }
    return MMDR_FAILED;
  });
}

MmdrResult MMDR_CALL Mmdr_GetWatchDescriptor(MmdrHandle* handle, std::intptr_t* out) {
  return Guarded("Mmdr_GetWatchDescriptor", [&]() -> MmdrResult {
    const std::shared_ptr<DeviceWatch> watch = MmdrHandleWatch(handle);
    if (!watch) {
      return MMDR_INVALID_HANDLE;
    }
    if (out == nullptr) {
      return MMDR_NO_DATA;
    }
    std::intptr_t descriptor = 0;
    if (watch->Descriptor(descriptor) != DeviceWatch::Outcome::kDone) {
      return MMDR_FAILED;
    }
    *out = descriptor;
    return MMDR_OK;
  });
}

}  // extern "C"
