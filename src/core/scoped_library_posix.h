// ScopedLibrary owns one reference from dlopen and gives it back with dlclose once: on
// Reset() or destruction. Resolve() looks a symbol up as a function pointer of the caller's
// type, so a table of functions is filled without a cast at each entry. Movable, not
// copyable.
#pragma once

#include <dlfcn.h>

class ScopedLibrary {
 public:
  ScopedLibrary() = default;
  // dlopen's own search; RTLD_LOCAL keeps the library's symbols out of the host's way.
  ScopedLibrary(const char* soname, int flags) noexcept : handle_(dlopen(soname, flags)) {}
  ~ScopedLibrary() { Reset(); }
  ScopedLibrary(ScopedLibrary&& other) noexcept : handle_(other.handle_) {
    other.handle_ = nullptr;
  }
  ScopedLibrary& operator=(ScopedLibrary&& other) noexcept {
    if (this != &other) {
      Reset();
      handle_ = other.handle_;
      other.handle_ = nullptr;
    }
    return *this;
  }
  ScopedLibrary(const ScopedLibrary&) = delete;
  ScopedLibrary& operator=(const ScopedLibrary&) = delete;

  void Reset() noexcept {
    if (handle_ != nullptr) dlclose(handle_);
    handle_ = nullptr;
  }
  // True when the symbol was found; function is null otherwise.
  template <typename Function>
  bool Resolve(const char* name, Function& function) const noexcept {
    function = handle_ != nullptr ? reinterpret_cast<Function>(dlsym(handle_, name)) : nullptr;
    return function != nullptr;
  }
  explicit operator bool() const noexcept { return handle_ != nullptr; }

 private:
  void* handle_ = nullptr;
};
