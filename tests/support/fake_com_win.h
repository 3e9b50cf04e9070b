// COM fakes for faults the platform cannot produce. A FakeComObject never deletes
// itself: the test owns it, so it can check afterwards that the code under test
// released every reference it took (outstanding() back to 0).
#pragma once

#include <windows.h>
#include <objbase.h>

#include <atomic>

namespace kestrel_test {

template <typename Interface>
class FakeComObject : public Interface {
 public:
  explicit FakeComObject(const IID& iid) : iid_(iid) {}
  virtual ~FakeComObject() = default;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    *object = nullptr;
    if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, iid_)) return E_NOINTERFACE;
    *object = static_cast<Interface*>(this);
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++outstanding_); }
  ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--outstanding_); }
  long outstanding() const { return outstanding_.load(); }

 private:
  const IID iid_;
  std::atomic<long> outstanding_{0};
};

// Creates its product, or fails with createResult.
class FakeClassFactory : public FakeComObject<IClassFactory> {
 public:
  explicit FakeClassFactory(IUnknown* product)
      : FakeComObject(IID_IClassFactory), product_(product) {}
  HRESULT createResult = S_OK;

  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown*, REFIID iid, void** object) override {
    *object = nullptr;
    return FAILED(createResult) ? createResult : product_->QueryInterface(iid, object);
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

 private:
  IUnknown* product_;
};

}  // namespace kestrel_test
