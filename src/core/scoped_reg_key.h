// ScopedRegKey owns one open registry key (from RegOpenKeyExW or RegCreateKeyExW) and
// closes it with RegCloseKey when reset or destroyed; an empty holder does nothing.
// Receive() hands out the handle's address for the call that opens the key and
// asserts that the holder is empty, so an open key cannot leak through reuse. The
// predefined root handles are never stored here. Not copyable.
#pragma once

#include <windows.h>

#include <cassert>

class ScopedRegKey {
 public:
  ScopedRegKey() = default;
  ~ScopedRegKey() { Reset(); }
  ScopedRegKey(const ScopedRegKey&) = delete;
  ScopedRegKey& operator=(const ScopedRegKey&) = delete;

  HKEY* Receive() {
    assert(key_ == nullptr && "ScopedRegKey::Receive on an open key");
    return &key_;
  }
  void Reset() {
    if (key_ != nullptr) RegCloseKey(key_);
    key_ = nullptr;
  }
  HKEY get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};
