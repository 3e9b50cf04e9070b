// ScopedCoMem<T> owns one block that a COM call allocated with the task allocator (an
// endpoint id text, say) and frees it with CoTaskMemFree when reset or destroyed; a null
// holder does nothing. Receive() hands out the pointer's address for a call that fills
// it and asserts that the holder is empty, so a block cannot leak through reuse. Not
// copyable.
#pragma once

#include <windows.h>
#include <objbase.h>

#include <cassert>

template <typename T>
class ScopedCoMem {
 public:
  ScopedCoMem() = default;
  ~ScopedCoMem() { Reset(); }
  ScopedCoMem(const ScopedCoMem&) = delete;
  ScopedCoMem& operator=(const ScopedCoMem&) = delete;

  T** Receive() {
    assert(memory_ == nullptr && "ScopedCoMem::Receive on a held block");
    return &memory_;
  }
  void Reset() {
    if (memory_ != nullptr) CoTaskMemFree(memory_);
    memory_ = nullptr;
  }
  T* get() const { return memory_; }

 private:
  T* memory_ = nullptr;
};
