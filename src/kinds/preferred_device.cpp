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

using UserPrefsUtil::SettingSource;

// A device text in UTF-8 for a log line; empty when memory runs out, since logging never
// fails its caller.
std::string ForLog(const std::wstring& text) noexcept {
  try {
    return ConvertWideToUtf8(text.c_str());
  } catch (...) {
    return std::string();
  }
}

// "<kind's lookup> - picked '<name>' (id '<id>'): <rule>", at debug level.
void LogPick(const DeviceKind& kind, const DeviceInfo& device, const char* rule) {
  if (!LogWants(kLogLevelTrivia)) return;
  Log(kLogLevelTrivia, "%s - picked '%s' (id '%s'): %s", kind.logName, ForLog(device.name).c_str(),
      ForLog(device.id).c_str(), rule);
}

// The store is no C++ variable that the pair lock could guard, so these two are the
// only places that touch the stored pair, and each demands the lock's hold.
struct StoredPair {
  std::wstring id;
  std::wstring name;
  SettingSource idSource = SettingSource::kDefault;
  SettingSource nameSource = SettingSource::kDefault;
};

StoredPair ReadStoredPair(const DeviceKind& kind) REQUIRES_SHARED(*kind.pairLock) {
  StoredPair pair;
  pair.id = UserPrefsUtil::ReadPreferenceText(kind.idValueName, &pair.idSource);
  pair.name = UserPrefsUtil::ReadPreferenceText(kind.nameValueName, &pair.nameSource);
  return pair;
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
  const StoredPair stored = [&kind] {
    // Only the reads: the enumeration below runs without the lock.
    const SharedHold hold(*kind.pairLock);
    return ReadStoredPair(kind);
  }();
  if (LogWants(kLogLevelTrivia)) {
    Log(kLogLevelTrivia, "%s - stored id '%s' (%s), name '%s' (%s)", kind.logName,
        ForLog(stored.id).c_str(), SettingSourceName(stored.idSource), ForLog(stored.name).c_str(),
        SettingSourceName(stored.nameSource));
  }
  if (stored.id.empty() && stored.name.empty()) {
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

  if (!stored.id.empty()) {
    // An exact id anywhere in the list beats an earlier id that merely contains it.
    for (DeviceInfo& device : devices) {
      if (device.id == stored.id) {
        LogPick(kind, device, "its id equals the stored id");
        return std::move(device);
      }
    }
    // A stored id may be a part of the current one, e.g. a device path without its
    // leading part.
    for (DeviceInfo& device : devices) {
      if (device.id.find(stored.id) != std::wstring::npos) {
        LogPick(kind, device, "its id contains the stored id");
        return std::move(device);
      }
    }
    if (LogWants(kLogLevelTrivia)) {
      Log(kLogLevelTrivia, "%s - none of %zu devices has an id equal to or containing '%s'",
          kind.logName, devices.size(), ForLog(stored.id).c_str());
    }
  }

  if (!stored.name.empty()) {
    for (DeviceInfo& device : devices) {
      if (device.name == stored.name) {
        LogPick(kind, device, "its name equals the stored name");
        return std::move(device);
      }
    }
    if (LogWants(kLogLevelTrivia)) {
      Log(kLogLevelTrivia, "%s - none of %zu devices is named '%s'", kind.logName, devices.size(),
          ForLog(stored.name).c_str());
    }
  }
  return DeviceInfo();
}

}  // namespace UserPrefsUtil
