// ScopedVariant owns one VARIANT: it starts empty (VT_EMPTY) and clears the value with
// VariantClear when reset or destroyed, which frees a BSTR or releases an interface it
// holds. Receive() hands out the variant for a call that fills it and asserts that the
// holder is empty, so a value cannot leak through reuse. Not copyable.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <cassert>

class ScopedVariant {
 public:
  ScopedVariant() : value_() { VariantInit(&value_); }
  ~ScopedVariant() { Reset(); }
  ScopedVariant(const ScopedVariant&) = delete;
  ScopedVariant& operator=(const ScopedVariant&) = delete;

  VARIANT* Receive() {
    assert(value_.vt == VT_EMPTY && "ScopedVariant::Receive on a held value");
    return &value_;
  }
  void Reset() {
    if (value_.vt != VT_EMPTY) VariantClear(&value_);
    VariantInit(&value_);
  }
  const VARIANT& get() const { return value_; }
  VARTYPE type() const { return value_.vt; }

 private:
  VARIANT value_;
};
