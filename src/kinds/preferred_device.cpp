// The stored preferred webcam and microphone, matched against the devices present now.
#include "kinds/preferred_device.h"

#include <string>
#include <utility>

#include "core/rw_lock.h"
#include "core/utf8.h"
#include "devices/device_info.h"
#include "kinds/device_kinds.h"
#include "log/log.h"
#include "prefs/user_prefs_util.h"

namespace {

// Logs "<kind's lookup> - <message>" with one device text in UTF-8. The text travels as
// an argument, so a "%" in a device name is never taken for a directive.
void LogDeviceText(std::uint32_t levelWord, const char* format, const DeviceKind& kind,
                   const std::wstring& text) KESTREL_PRINTF_FORMAT(2, 0);
void LogDeviceText(std::uint32_t levelWord, const char* format, const DeviceKind& kind,
                   const std::wstring& text) {
  if (!LogWants(levelWord)) return;
  try {
    Log(levelWord, format, kind.logName, ConvertWideToUtf8(text.c_str()).c_str());
  } catch (...) {
    // Logging never fails its caller; without memory for the text the message is lost.
  }
}

// The store is no C++ variable that the pair lock could guard, so these two are the
// only places that touch the stored pair, and each demands the lock's hold.
struct StoredPair {
  std::wstring id;
  std::wstring name;
};

StoredPair ReadStoredPair(const DeviceKind& kind) REQUIRES_SHARED(*kind.pairLock) {
  return {UserPrefsUtil::ReadPreferenceText(kind.idValueName),
          UserPrefsUtil::ReadPreferenceText(kind.nameValueName)};
}

bool WriteStoredPair(const DeviceKind& kind, const std::wstring& id, const std::wstring& name)
    REQUIRES(*kind.pairLock) {
  return UserPrefsUtil::WritePreferencePair(kind.idValueName, id, kind.nameValueName, name);
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
        LogDeviceText(kLogLevelTrivia, "%s - Find matched preferred id: '%s' in device list.", kind,
                      device.id);
        return std::move(device);
      }
    }
    // A stored id may be a part of the current one, e.g. a device path without its
    // leading part.
    for (DeviceInfo& device : devices) {
      if (device.id.find(storedId) != std::wstring::npos) {
        LogDeviceText(kLogLevelTrivia, "%s - Find preferred id: '%s' in device list.", kind,
                      device.id);
        return std::move(device);
      }
    }
    LogDeviceText(kLogLevelTrivia, "%s - Cannot find preferred id: '%s' in device list.", kind,
                  storedId);
  }

  if (!storedName.empty()) {
    for (DeviceInfo& device : devices) {
      if (device.name == storedName) {
        LogDeviceText(kLogLevelTrivia, "%s - Find preferred name: '%s' in device list.", kind,
                      device.name);
        return std::move(device);
      }
    }
    LogDeviceText(kLogLevelTrivia, "%s - Cannot find preferred name: '%s' in device list.", kind,
                  storedName);
  }
  return DeviceInfo();
}

}  // namespace UserPrefsUtil
