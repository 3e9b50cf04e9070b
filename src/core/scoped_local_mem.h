// ScopedLocalMem<T> owns one block that the system allocated with LocalAlloc on the
// caller's behalf (FormatMessageW's text with FORMAT_MESSAGE_ALLOCATE_BUFFER) and
// frees it with LocalFree when reset or destroyed; a null holder does nothing.
// Receive() hands out the pointer's address for the call that fills it and asserts
// that the holder is empty, so a block cannot leak through reuse. Not copyable.
#pragma once

#include <windows.h>

#include <cassert>

template <typename T>
class ScopedLocalMem {
 public:
  ScopedLocalMem() = default;
  ~ScopedLocalMem() { Reset(); }
  ScopedLocalMem(const ScopedLocalMem&) = delete;
  ScopedLocalMem& operator=(const ScopedLocalMem&) = delete;

  T** Receive() {
    assert(memory_ == nullptr && "ScopedLocalMem::Receive on a held block");
    return &memory_;
  }
  void Reset() {
    if (memory_ != nullptr) LocalFree(memory_);
    memory_ = nullptr;
  }
  T* get() const { return memory_; }

 private:
  T* memory_ = nullptr;
};
