// ScopedPropVariant owns one PROPVARIANT: it starts empty (VT_EMPTY) and clears the
// value with PropVariantClear when reset or destroyed, which frees whatever the value
// owns (a CoTaskMem string, say). Receive() hands out the variant for a call that fills
// it and asserts that the holder is empty, so a value cannot leak through reuse. Not
// copyable.
#pragma once

#include <windows.h>
#include <propidl.h>

#include <cassert>

class ScopedPropVariant {
 public:
  ScopedPropVariant() : value_() { PropVariantInit(&value_); }
  ~ScopedPropVariant() { Reset(); }
  ScopedPropVariant(const ScopedPropVariant&) = delete;
  ScopedPropVariant& operator=(const ScopedPropVariant&) = delete;

  PROPVARIANT* Receive() {
    assert(value_.vt == VT_EMPTY && "ScopedPropVariant::Receive on a held value");
    return &value_;
  }
  void Reset() {
    if (value_.vt != VT_EMPTY) PropVariantClear(&value_);
    PropVariantInit(&value_);
  }
  const PROPVARIANT& get() const { return value_; }
  VARTYPE type() const { return value_.vt; }

 private:
  PROPVARIANT value_;
};
