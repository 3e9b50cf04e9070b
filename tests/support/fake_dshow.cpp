#include "support/fake_dshow.h"

#include <oleauto.h>

#include <cwchar>

namespace kestrel_test {

class FakePropertyBag : public FakeComObject<IPropertyBag> {
 public:
  explicit FakePropertyBag(const FakeVideoDeviceSpec& setup)
      : FakeComObject<IPropertyBag>(IID_IPropertyBag), spec_(setup), value_(IID_IUnknown) {}

  HRESULT STDMETHODCALLTYPE Read(LPCOLESTR name, VARIANT* value, IErrorLog*) override {
    if (name == nullptr || value == nullptr) return E_POINTER;
    if (std::wcscmp(name, L"FriendlyName") == 0) return Answer(spec_.nameValue, spec_.friendlyName, value);
    if (std::wcscmp(name, L"DevicePath") == 0) return Answer(spec_.pathValue, spec_.devicePath, value);
    return E_FAIL;
  }
  HRESULT STDMETHODCALLTYPE Write(LPCOLESTR, VARIANT*) override { return E_NOTIMPL; }

  bool AllReleased() const { return outstanding() == 0 && value_.outstanding() == 0; }
  long valueReferences() const { return value_.outstanding(); }

 private:
  HRESULT Answer(FakeBagValue kind, const std::wstring& text, VARIANT* value) {
    switch (kind) {
      case FakeBagValue::String:
        value->vt = VT_BSTR;
        value->bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
        return value->bstrVal != nullptr ? S_OK : E_OUTOFMEMORY;
      case FakeBagValue::Interface:
        value->vt = VT_UNKNOWN;
        value->punkVal = value_.HandOut();
        return S_OK;
      case FakeBagValue::ReadFails:
        break;
    }
    return E_FAIL;
  }

  const FakeVideoDeviceSpec& spec_;
  FakeComObject<IUnknown> value_;  // what a non-text value holds
};

// IMoniker is wide; the enumeration only binds to storage, so everything else answers
// E_NOTIMPL here.
class NotImplementedMoniker : public FakeComObject<IMoniker> {
 public:
  NotImplementedMoniker() : FakeComObject<IMoniker>(IID_IMoniker) {}

  HRESULT STDMETHODCALLTYPE GetClassID(CLSID*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE IsDirty() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Load(IStream*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Save(IStream*, BOOL) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetSizeMax(ULARGE_INTEGER*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE BindToObject(IBindCtx*, IMoniker*, REFIID, void**) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE BindToStorage(IBindCtx*, IMoniker*, REFIID, void**) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Reduce(IBindCtx*, DWORD, IMoniker**, IMoniker**) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE ComposeWith(IMoniker*, BOOL, IMoniker**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Enum(BOOL, IEnumMoniker**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE IsEqual(IMoniker*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Hash(DWORD*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE IsRunning(IBindCtx*, IMoniker*, IMoniker*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetTimeOfLastChange(IBindCtx*, IMoniker*, FILETIME*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Inverse(IMoniker**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE CommonPrefixWith(IMoniker*, IMoniker**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE RelativePathTo(IMoniker*, IMoniker**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetDisplayName(IBindCtx*, IMoniker*, LPOLESTR*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE ParseDisplayName(IBindCtx*, IMoniker*, LPOLESTR, ULONG*,
                                             IMoniker**) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE IsSystemMoniker(DWORD*) override { return E_NOTIMPL; }
};

// One device: its moniker, which binds to its property bag.
class FakeVideoDevice : public NotImplementedMoniker {
 public:
  explicit FakeVideoDevice(FakeVideoDeviceSpec setup) : spec_(std::move(setup)), bag_(spec_) {}

  HRESULT STDMETHODCALLTYPE BindToStorage(IBindCtx* context, IMoniker* left, REFIID iid,
                                          void** object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (context != nullptr || left != nullptr || !IsEqualIID(iid, IID_IPropertyBag)) {
      return E_INVALIDARG;  // the enumeration binds with neither, for a property bag
    }
    if (spec_.bind != FakeBind::Ok) {
      if (spec_.bind == FakeBind::FailsWithBag) *object = bag_.HandOut();
      return E_FAIL;
    }
    *object = bag_.HandOut();
    return S_OK;
  }

  bool AllReleased() const { return outstanding() == 0 && bag_.AllReleased(); }
  std::string Outstanding() const {
    return "moniker " + std::to_string(outstanding()) + ", bag " +
           std::to_string(bag_.outstanding()) + ", value " + std::to_string(bag_.valueReferences());
  }

 private:
  FakeVideoDeviceSpec spec_;
  FakePropertyBag bag_;
};

class FakeMonikerEnum : public FakeComObject<IEnumMoniker> {
 public:
  explicit FakeMonikerEnum(FakeSystemDeviceEnum& owner)
      : FakeComObject<IEnumMoniker>(IID_IEnumMoniker), owner_(owner) {}

  void Rewind() { position_ = 0; }

  HRESULT STDMETHODCALLTYPE Next(ULONG count, IMoniker** monikers, ULONG* fetched) override {
    ++owner_.nextCalls;
    if (monikers == nullptr || count != 1) return E_INVALIDARG;
    *monikers = nullptr;
    if (fetched != nullptr) *fetched = 0;
    if (position_ >= owner_.devices_.size()) return S_FALSE;
    const bool fails = static_cast<int>(position_) == owner_.nextFailsAt;
    if (fails && !owner_.nextFailureHandsOut) return E_FAIL;
    *monikers = owner_.devices_[position_++]->HandOut();
    if (fails) return E_FAIL;
    if (fetched != nullptr) *fetched = 1;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Skip(ULONG) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reset() override {
    position_ = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Clone(IEnumMoniker**) override { return E_NOTIMPL; }

 private:
  FakeSystemDeviceEnum& owner_;
  std::size_t position_ = 0;
};

FakeSystemDeviceEnum::FakeSystemDeviceEnum(std::vector<FakeVideoDeviceSpec> devices)
    : FakeComObject<ICreateDevEnum>(IID_ICreateDevEnum),
      monikers_(std::make_unique<FakeMonikerEnum>(*this)) {
  for (FakeVideoDeviceSpec& setup : devices) {
    devices_.push_back(std::make_unique<FakeVideoDevice>(std::move(setup)));
  }
}

FakeSystemDeviceEnum::~FakeSystemDeviceEnum() = default;

HRESULT FakeSystemDeviceEnum::CreateClassEnumerator(REFCLSID category, IEnumMoniker** monikers,
                                                    DWORD flags) {
  requestedCategory = category;
  requestedFlags = flags;
  if (monikers == nullptr) return E_POINTER;
  *monikers = nullptr;
  if (classEnumResult != S_OK && !classEnumHandedOutAnyway) return classEnumResult;
  monikers_->Rewind();
  *monikers = monikers_->HandOut();
  return classEnumResult;
}

bool FakeSystemDeviceEnum::AllReleased() const {
  if (outstanding() != 0 || monikers_->outstanding() != 0) return false;
  for (const auto& device : devices_) {
    if (!device->AllReleased()) return false;
  }
  return true;
}

std::string FakeSystemDeviceEnum::Outstanding() const {
  std::string text = "enumerator " + std::to_string(outstanding()) + ", class enumerator " +
                     std::to_string(monikers_->outstanding());
  for (std::size_t i = 0; i < devices_.size(); ++i) {
    text += "; device " + std::to_string(i) + ": " + devices_[i]->Outstanding();
  }
  return text;
}

std::vector<FakeVideoDeviceSpec> MakeFakeVideoDevices(int count) {
  std::vector<FakeVideoDeviceSpec> devices(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) {
    devices[static_cast<std::size_t>(i)].friendlyName = L"Fake Cam " + std::to_wstring(i);
    devices[static_cast<std::size_t>(i)].devicePath = L"fake-path-" + std::to_wstring(i);
  }
  return devices;
}

}  // namespace kestrel_test
