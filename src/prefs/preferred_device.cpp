// The stored preferred webcam and microphone, matched against the devices present now.
#include "prefs/preferred_device.h"

#include <windows.h>

#include <string>
#include <utility>

#include "core/text_utils.h"
#include "devices/audio_capture_win.h"
#include "devices/device_info.h"
#include "devices/video_input_win.h"
#include "log/log.h"
#include "prefs/reg_utils.h"
#include "prefs/user_prefs_util.h"

namespace {

// Keeps a kind's id and name together within this process: pair writes take it
// exclusively, lookups share it while they read the two texts. Statically initialised,
// so it needs no construction or teardown when the library loads or unloads.
SRWLOCK webcamPairLock = SRWLOCK_INIT;
SRWLOCK microphonePairLock = SRWLOCK_INIT;

// What differs between the two kinds of preferred device.
struct PreferenceKind {
  const char* functionName;
  const wchar_t* functionNameWide;
  const wchar_t* idValueName;
  const wchar_t* nameValueName;
  bool (*enumerate)(DeviceInfoList& list);
  SRWLOCK* pairLock;
};

const PreferenceKind kWebcam = {
    "UserPrefsUtil::PreferredWCamDeviceInfo", L"UserPrefsUtil::PreferredWCamDeviceInfo",
    L"srcWCamId", L"srcWCamName", &VideoInputWin::EnumDevices, &webcamPairLock};
const PreferenceKind kMicrophone = {
    "UserPrefsUtil::PreferredAInDeviceInfo", L"UserPrefsUtil::PreferredAInDeviceInfo",
    L"srcAudioInId", L"srcAudioInName", &AudioCaptureWin::EnumCaptureDevices,
    &microphonePairLock};

class SharedPairLock {
 public:
  explicit SharedPairLock(SRWLOCK* lock) : lock_(lock) { AcquireSRWLockShared(lock_); }
  ~SharedPairLock() { ReleaseSRWLockShared(lock_); }
  SharedPairLock(const SharedPairLock&) = delete;
  SharedPairLock& operator=(const SharedPairLock&) = delete;

 private:
  SRWLOCK* lock_;
};

class ExclusivePairLock {
 public:
  explicit ExclusivePairLock(SRWLOCK* lock) : lock_(lock) { AcquireSRWLockExclusive(lock_); }
  ~ExclusivePairLock() { ReleaseSRWLockExclusive(lock_); }
  ExclusivePairLock(const ExclusivePairLock&) = delete;
  ExclusivePairLock& operator=(const ExclusivePairLock&) = delete;

 private:
  SRWLOCK* lock_;
};

// The user's own text, or the machine-wide one when the user has none (decided per
// value, so id and name may come from different roots).
std::wstring ReadPreferenceText(const wchar_t* valueName) {
  std::wstring text =
      RegUtils::GetString(HKEY_CURRENT_USER, kKestrelKeyPath, valueName, L"", true);
  if (text.empty()) {
    text = RegUtils::GetString(HKEY_LOCAL_MACHINE, kKestrelKeyPath, valueName, L"", true);
  }
  return text;
}

bool StorePair(const PreferenceKind& kind, std::wstring id, std::wstring name) {
  ExclusivePairLock pairLock(kind.pairLock);
  return RegUtils::SetString(HKEY_CURRENT_USER, kKestrelKeyPath, kind.idValueName, std::move(id)) &&
         RegUtils::SetString(HKEY_CURRENT_USER, kKestrelKeyPath, kind.nameValueName,
                             std::move(name));
}

DeviceInfo FindPreferredDevice(const PreferenceKind& kind) {
  std::wstring storedId;
  std::wstring storedName;
  {
    // Only the reads: the enumeration below runs without the lock.
    SharedPairLock pairLock(kind.pairLock);
    storedId = ReadPreferenceText(kind.idValueName);
    storedName = ReadPreferenceText(kind.nameValueName);
  }
  if (storedId.empty() && storedName.empty()) {
    Log(kLogLevelTrivia, "%s - Config preferred device is NULL.", kind.functionName);
    return DeviceInfo();
  }

  DeviceInfoList devices;
  if (!kind.enumerate(devices)) {
    Log(kLogLevelError, "%s - Failed to enum the device.", kind.functionName);
    return DeviceInfo();
  }
  if (devices.empty()) {
    Log(kLogLevelTrivia, "%s - List size is 0.", kind.functionName);
    return DeviceInfo();
  }

  if (!storedId.empty()) {
    // An exact id anywhere in the list beats an earlier id that merely contains it.
    for (DeviceInfo& device : devices) {
      if (device.id == storedId) {
        LogWide(kLogLevelTrivia, L"%s - Find matched preferred id: '%s' in device list.",
                kind.functionNameWide, device.id.c_str());
        return std::move(device);
      }
    }
    // A stored id may be a part of the current one, e.g. a device path without its
    // leading part.
    for (DeviceInfo& device : devices) {
      if (device.id.find(storedId) != std::wstring::npos) {
        LogWide(kLogLevelTrivia, L"%s - Find preferred id: '%s' in device list.",
                kind.functionNameWide, device.id.c_str());
        return std::move(device);
      }
    }
    LogWide(kLogLevelTrivia, L"%s - Cannot find preferred id: '%s' in device list.",
            kind.functionNameWide, storedId.c_str());
  }

  if (!storedName.empty()) {
    for (DeviceInfo& device : devices) {
      if (device.name == storedName) {
        LogWide(kLogLevelTrivia, L"%s - Find preferred name: '%s' in device list.",
                kind.functionNameWide, device.name.c_str());
        return std::move(device);
      }
    }
    LogWide(kLogLevelTrivia, L"%s - Cannot find preferred name: '%s' in device list.",
            kind.functionNameWide, storedName.c_str());
  }
  return DeviceInfo();
}

}  // namespace

namespace UserPrefsUtil {

DeviceInfo PreferredWCamDeviceInfo() {
  return FindPreferredDevice(kWebcam);
}

DeviceInfo PreferredAInDeviceInfo() {
  return FindPreferredDevice(kMicrophone);
}

std::wstring PreferredWCamId() {
  return PreferredWCamDeviceInfo().id;
}

std::wstring PreferredWCamName() {
  return PreferredWCamDeviceInfo().name;
}

std::wstring PreferredAInId() {
  return PreferredAInDeviceInfo().id;
}

std::wstring PreferredAInName() {
  return PreferredAInDeviceInfo().name;
}

bool SetPreferredWCamPair(std::wstring id, std::wstring name) {
  return StorePair(kWebcam, std::move(id), std::move(name));
}

bool SetPreferredAInPair(std::wstring id, std::wstring name) {
  return StorePair(kMicrophone, std::move(id), std::move(name));
}

}  // namespace UserPrefsUtil
