// The stored preferred device of a kind as one id/name pair.
#pragma once

#include <string>

#include "prefs/user_prefs_util.h"

namespace UserPrefsUtil {

// Store the id, then the name only when the id was stored; true when both were stored.
// Within this process, another pair write or a lookup of the same kind never runs between
// the two writes, so concurrent callers leave one caller's pair whole, not a mix.
bool SetPreferredWCamPair(std::wstring id, std::wstring name);
bool SetPreferredAInPair(std::wstring id, std::wstring name);

}  // namespace UserPrefsUtil
