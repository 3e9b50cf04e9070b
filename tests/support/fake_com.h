// Building blocks for COM fakes that tests inject where the platform cannot produce a
// fault. A FakeComObject never deletes itself: the test owns it and outlives every
// reference it hands out, so a test can check afterwards that the code under test
// released exactly what it took (outstanding() back to 0).
#pragma once

#include <windows.h>
#include <objbase.h>
#include <unknwn.h>

#include <atomic>

namespace kestrel_test {

template <typename Interface>
class FakeComObject : public Interface {
 public:
  explicit FakeComObject(const IID& iid) : iid_(iid) {}
  virtual ~FakeComObject() = default;
  FakeComObject(const FakeComObject&) = delete;
  FakeComObject& operator=(const FakeComObject&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, iid_)) {
      *object = static_cast<Interface*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++outstanding_); }
  ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--outstanding_); }

  // References handed out and not yet released.
  long outstanding() const { return outstanding_.load(); }

  // Hands out one reference, as a COM call that returns this object does.
  Interface* HandOut() {
    AddRef();
    return this;
  }

 private:
  const IID iid_;
  std::atomic<long> outstanding_{0};
};

// A class factory that answers every request with one object (through its
// QueryInterface), or with a fixed failure.
class FakeClassFactory : public FakeComObject<IClassFactory> {
 public:
  explicit FakeClassFactory(IUnknown* product = nullptr)
      : FakeComObject<IClassFactory>(IID_IClassFactory), product_(product) {}

  void set_product(IUnknown* product) { product_ = product; }
  // A failure code returned by CreateInstance instead of the product.
  void set_create_result(HRESULT result) { createResult_ = result; }
  // With a failure code set: hand out the product all the same, as a misbehaving
  // server may (the caller must still release it).
  void set_hand_out_on_failure(bool handOut) { handOutOnFailure_ = handOut; }
  int creations() const { return creations_; }

  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    ++creations_;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    if (FAILED(createResult_)) {
      if (handOutOnFailure_ && product_ != nullptr) product_->QueryInterface(iid, object);
      return createResult_;
    }
    if (product_ == nullptr) return E_NOINTERFACE;
    return product_->QueryInterface(iid, object);
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

 private:
  IUnknown* product_;
  HRESULT createResult_ = S_OK;
  bool handOutOnFailure_ = false;
  int creations_ = 0;
};

// Registers a class object for a CLSID in the calling thread's apartment for one scope,
// so that CoCreateInstance there reaches the fake instead of the system's class.
class ScopedClassRegistration {
 public:
  ScopedClassRegistration(const CLSID& clsid, IClassFactory* factory) {
    result_ = CoRegisterClassObject(clsid, factory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE,
                                    &cookie_);
  }
  ~ScopedClassRegistration() {
    if (SUCCEEDED(result_)) CoRevokeClassObject(cookie_);
  }
  ScopedClassRegistration(const ScopedClassRegistration&) = delete;
  ScopedClassRegistration& operator=(const ScopedClassRegistration&) = delete;

  HRESULT result() const { return result_; }

 private:
  HRESULT result_ = E_UNEXPECTED;
  DWORD cookie_ = 0;
};

}  // namespace kestrel_test
