// ScopedHandle<Traits> owns one handle-like resource: an open registry key, a reference
// on a loaded module, a block from the COM task allocator or from LocalAlloc. The traits
// give the invalid value and the function that frees a valid one. Reset() frees what is
// held (and may take a new handle); Take() hands the handle over to the caller; Receive()
// is for a call that fills the handle in and asserts that the holder is empty, so a
// resource cannot leak through reuse. Movable, not copyable.
#pragma once

#include <windows.h>
#include <objbase.h>

#include <cassert>

template <typename Traits>
class ScopedHandle {
 public:
  using Handle = typename Traits::Handle;

  ScopedHandle() = default;
  explicit ScopedHandle(Handle handle) noexcept : handle_(handle) {}
  ~ScopedHandle() { Reset(); }
  ScopedHandle(ScopedHandle&& other) noexcept : handle_(other.Take()) {}
  ScopedHandle& operator=(ScopedHandle&& other) noexcept {
    if (this != &other) Reset(other.Take());
    return *this;
  }
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;

  Handle* Receive() noexcept {
    assert(handle_ == Traits::Invalid() && "ScopedHandle::Receive on a held handle");
    return &handle_;
  }
  [[nodiscard]] Handle Take() noexcept {
    const Handle handle = handle_;
    handle_ = Traits::Invalid();
    return handle;
  }
  // Keeps the thread's last error, so that a failure's code survives the clean-up that
  // runs on the way out of the failing function.
  void Reset(Handle handle = Traits::Invalid()) noexcept {
    if (handle_ != Traits::Invalid()) {
      const DWORD lastError = GetLastError();
      Traits::Free(handle_);
      SetLastError(lastError);
    }
    handle_ = handle;
  }
  Handle get() const noexcept { return handle_; }
  explicit operator bool() const noexcept { return handle_ != Traits::Invalid(); }

 private:
  Handle handle_ = Traits::Invalid();
};

struct RegKeyTraits {  // from RegOpenKeyExW or RegCreateKeyExW; never a predefined root
  using Handle = HKEY;
  static HKEY Invalid() noexcept { return nullptr; }
  static void Free(HKEY key) noexcept { RegCloseKey(key); }
};
using ScopedRegKey = ScopedHandle<RegKeyTraits>;

struct ModuleTraits {  // one reference from LoadLibrary
  using Handle = HMODULE;
  static HMODULE Invalid() noexcept { return nullptr; }
  static void Free(HMODULE module) noexcept { FreeLibrary(module); }
};
using ScopedModule = ScopedHandle<ModuleTraits>;

template <typename T>
struct CoMemTraits {  // a block a COM call allocated for the caller (an endpoint id, say)
  using Handle = T*;
  static T* Invalid() noexcept { return nullptr; }
  static void Free(T* memory) noexcept { CoTaskMemFree(memory); }
};
template <typename T>
using ScopedCoMem = ScopedHandle<CoMemTraits<T>>;

template <typename T>
struct LocalMemTraits {  // a block the system allocated with LocalAlloc (FormatMessageW's text)
  using Handle = T*;
  static T* Invalid() noexcept { return nullptr; }
  static void Free(T* memory) noexcept { LocalFree(memory); }
};
template <typename T>
using ScopedLocalMem = ScopedHandle<LocalMemTraits<T>>;
