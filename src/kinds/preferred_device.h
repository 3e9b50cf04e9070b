// The user's preferred device of a kind: stored as an id and name pair, and found again
// among the devices present now.
#pragma once

#include <string>

#include "devices/device_info.h"

struct DeviceKind;

namespace UserPrefsUtil {

// The stored preference of a kind matched against its devices present now: exact id,
// then contained id, then exact name; the empty record when none is picked, or when the
// enumeration failed. The id and name are each the user's own text, or the machine-wide
// one when the user has none.
DeviceInfo PreferredDeviceInfo(const DeviceKind& kind);
// Stores the id, then the name only when the id was stored; true when both were.
// Within this process another pair write or a lookup of the same kind never runs
// between the two writes, so concurrent callers leave one caller's pair, not a mix.
bool SetPreferredPair(const DeviceKind& kind, const std::wstring& id, const std::wstring& name);

}  // namespace UserPrefsUtil
