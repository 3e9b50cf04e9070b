// ScopedModule owns one reference on a loaded module (a handle from LoadLibrary) and
// drops it with FreeLibrary when reset or destroyed; a null holder does nothing.
// Reset(handle) takes over a handle that was just loaded, and asserts that the holder
// is empty, so a reference cannot leak through reuse. Not copyable.
#pragma once

#include <windows.h>

#include <cassert>

class ScopedModule {
 public:
  ScopedModule() = default;
  ~ScopedModule() { Reset(); }
  ScopedModule(const ScopedModule&) = delete;
  ScopedModule& operator=(const ScopedModule&) = delete;

  void Reset(HMODULE loaded) {
    assert(module_ == nullptr && "ScopedModule::Reset over a held module");
    module_ = loaded;
  }
  void Reset() {
    if (module_ != nullptr) FreeLibrary(module_);
    module_ = nullptr;
  }
  HMODULE get() const { return module_; }
  explicit operator bool() const { return module_ != nullptr; }

 private:
  HMODULE module_ = nullptr;
};
