// The stored preferred webcam and microphone, matched against the devices present now.
#include "kinds/preferred_device.h"

#include <windows.h>

#include <string>
#include <utility>

#include "core/srw_lock_win.h"
#include "core/text_utils.h"
#include "devices/device_info.h"
#include "log/log.h"
#include "kinds/device_kinds.h"
#include "prefs/reg_utils.h"

namespace {

// The user's own text, or the machine-wide one when the user has none (decided per
// value, so id and name may come from different roots).
std::wstring ReadPreferenceText(const wchar_t* valueName) {
  std::wstring text = RegUtils::GetString(HKEY_CURRENT_USER, kKestrelKeyPath, valueName, L"", true);
  if (text.empty()) {
    text = RegUtils::GetString(HKEY_LOCAL_MACHINE, kKestrelKeyPath, valueName, L"", true);
  }
  return text;
}

// The registry is no C++ variable that the pair lock could guard, so these two are the
// only places that touch the stored pair, and each demands the lock's hold.
struct StoredPair {
  std::wstring id;
  std::wstring name;
};

StoredPair ReadStoredPair(const DeviceKind& kind) REQUIRES_SHARED(*kind.pairLock) {
  return {ReadPreferenceText(kind.idValueName), ReadPreferenceText(kind.nameValueName)};
}

bool WriteStoredPair(const DeviceKind& kind, const std::wstring& id, const std::wstring& name)
    REQUIRES(*kind.pairLock) {
  return RegUtils::SetString(HKEY_CURRENT_USER, kKestrelKeyPath, kind.idValueName, id) &&
         RegUtils::SetString(HKEY_CURRENT_USER, kKestrelKeyPath, kind.nameValueName, name);
}

}  // namespace

namespace UserPrefsUtil {

bool SetPreferredPair(const DeviceKind& kind, const std::wstring& id, const std::wstring& name) {
  const ExclusiveHold hold(*kind.pairLock);
  return WriteStoredPair(kind, id, name);
}

DeviceInfo PreferredDeviceInfo(const DeviceKind& kind) {
  const auto [storedId, storedName] = [&kind] {
    // Only the reads: the enumeration below runs without the lock.
    const SharedHold hold(*kind.pairLock);
    return ReadStoredPair(kind);
  }();
  if (storedId.empty() && storedName.empty()) {
    Log(kLogLevelTrivia, "%s - Config preferred device is NULL.", kind.logName);
    return DeviceInfo();
  }

  DeviceInfoList devices;
  if (!kind.enumerate(devices)) {
    Log(kLogLevelError, "%s - Failed to enum the device.", kind.logName);
    return DeviceInfo();
  }
  if (devices.empty()) {
    Log(kLogLevelTrivia, "%s - List size is 0.", kind.logName);
    return DeviceInfo();
  }

  if (!storedId.empty()) {
    // An exact id anywhere in the list beats an earlier id that merely contains it.
    for (DeviceInfo& device : devices) {
      if (device.id == storedId) {
        LogWide(kLogLevelTrivia, L"%S - Find matched preferred id: '%s' in device list.",
                kind.logName, device.id.c_str());
        return std::move(device);
      }
    }
    // A stored id may be a part of the current one, e.g. a device path without its
    // leading part.
    for (DeviceInfo& device : devices) {
      if (device.id.find(storedId) != std::wstring::npos) {
        LogWide(kLogLevelTrivia, L"%S - Find preferred id: '%s' in device list.", kind.logName,
                device.id.c_str());
        return std::move(device);
      }
    }
    LogWide(kLogLevelTrivia, L"%S - Cannot find preferred id: '%s' in device list.", kind.logName,
            storedId.c_str());
  }

  if (!storedName.empty()) {
    for (DeviceInfo& device : devices) {
      if (device.name == storedName) {
        LogWide(kLogLevelTrivia, L"%S - Find preferred name: '%s' in device list.", kind.logName,
                device.name.c_str());
        return std::move(device);
      }
    }
    LogWide(kLogLevelTrivia, L"%S - Cannot find preferred name: '%s' in device list.", kind.logName,
            storedName.c_str());
  }
  return DeviceInfo();
}

}  // namespace UserPrefsUtil
