// Everything that differs between the two kinds of capture device, in one table: the
// code callers give for the kind, how its devices are listed, where its preferred
// device is stored, and whether a stored name needs its id.
#pragma once

#include "core/rw_lock.h"
#include "devices/device_info.h"
#include "kestrelCliLib.h"

struct DeviceKind {
  MmdrDeviceKind code;                      // what callers pass as the kind
  bool (*enumerate)(DeviceInfoList& list);  // false when the enumeration failed
  const wchar_t* idValueName;               // REG_SZ values under kKestrelKeyPath
  const wchar_t* nameValueName;
  bool nameNeedsId;     // a name is stored only together with a non-empty id (microphones)
  const char* logName;  // the preference lookup, as its log lines name it
  RwLock* pairLock;     // keeps the kind's stored id and name together within the process
};

// The kind a caller's code names; null for any other code.
const DeviceKind* FindDeviceKind(MmdrDeviceKind code);
