#include "support/fake_mmdevice.h"

#include <cstring>

#include "devices/platform_ids.h"

namespace kestrel_test {

namespace {


bool SameKey(const PROPERTYKEY& a, const PROPERTYKEY& b) {
  return IsEqualGUID(a.fmtid, b.fmtid) && a.pid == b.pid;
}

wchar_t* CoTaskCopy(const std::wstring& text) {
  const std::size_t bytes = (text.size() + 1) * sizeof(wchar_t);
  auto* copy = static_cast<wchar_t*>(CoTaskMemAlloc(bytes));
  if (copy != nullptr) std::memcpy(copy, text.c_str(), bytes);
  return copy;
}

}  // namespace

class FakePropertyStore : public FakeComObject<IPropertyStore> {
 public:
  explicit FakePropertyStore(const FakeEndpointSpec& setup)
      : FakeComObject<IPropertyStore>(IID_IPropertyStore), spec_(setup), value_(IID_IUnknown) {}

  HRESULT STDMETHODCALLTYPE GetValue(REFPROPERTYKEY key, PROPVARIANT* value) override {
    if (value == nullptr) return E_POINTER;
    PropVariantInit(value);
    if (spec_.getValueFails) return E_FAIL;
    if (SameKey(key, kFriendlyNameKey)) return Answer(spec_.nameKind, spec_.friendlyName, value);
    if (SameKey(key, kEndpointGuidKey)) return Answer(spec_.guidKind, spec_.guid, value);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetCount(DWORD*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetAt(DWORD, PROPERTYKEY*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetValue(REFPROPERTYKEY, REFPROPVARIANT) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Commit() override { return E_NOTIMPL; }

  bool AllReleased() const { return outstanding() == 0 && value_.outstanding() == 0; }

  std::vector<void*> texts;  // handed out, owned by the caller

 private:
  HRESULT Answer(FakeEndpointSpec::Value kind, const std::wstring& text, PROPVARIANT* value) {
    switch (kind) {
      case FakeEndpointSpec::Value::String:
        value->vt = VT_LPWSTR;
        value->pwszVal = CoTaskCopy(text);
        texts.push_back(value->pwszVal);
        break;
      case FakeEndpointSpec::Value::NotString:
        value->vt = VT_UI4;
        value->ulVal = 7;
        break;
      case FakeEndpointSpec::Value::Interface:
        value->vt = VT_UNKNOWN;
        value->punkVal = value_.HandOut();
        break;
      case FakeEndpointSpec::Value::GetValueFails:
        return E_FAIL;
      case FakeEndpointSpec::Value::Missing:
        break;
    }
    return S_OK;
  }

  const FakeEndpointSpec& spec_;
  FakeComObject<IUnknown> value_;  // what a non-text value holds
};

class FakeEndpoint : public FakeComObject<IMMDevice> {
 public:
  explicit FakeEndpoint(FakeEndpointSpec setup)
      : FakeComObject<IMMDevice>(__uuidof(IMMDevice)), spec_(std::move(setup)), store_(spec_) {}

  HRESULT STDMETHODCALLTYPE OpenPropertyStore(DWORD, IPropertyStore** store) override {
    if (store == nullptr) return E_POINTER;
    *store = nullptr;
    if (spec_.openStoreFails) return E_ACCESSDENIED;
    *store = store_.HandOut();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetId(LPWSTR* id) override {
    if (id == nullptr) return E_POINTER;
    *id = nullptr;
    if (!spec_.endpointId) return E_OUTOFMEMORY;
    *id = CoTaskCopy(*spec_.endpointId);
    texts_.push_back(*id);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetState(DWORD* state) override {
    if (state == nullptr) return E_POINTER;
    *state = DEVICE_STATE_ACTIVE;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Activate(REFIID, DWORD, PROPVARIANT*, void**) override {
    return E_NOTIMPL;
  }

  bool AllReleased() const { return outstanding() == 0 && store_.AllReleased(); }
  void AppendTexts(std::vector<void*>& texts) const {
    texts.insert(texts.end(), texts_.begin(), texts_.end());
    texts.insert(texts.end(), store_.texts.begin(), store_.texts.end());
  }

 private:
  FakeEndpointSpec spec_;
  FakePropertyStore store_;
  std::vector<void*> texts_;  // ids handed out, owned by the caller
};

class FakeEndpointCollection : public FakeComObject<IMMDeviceCollection> {
 public:
  explicit FakeEndpointCollection(FakeMMDeviceEnumerator& owner)
      : FakeComObject<IMMDeviceCollection>(__uuidof(IMMDeviceCollection)), owner_(owner) {}

  HRESULT STDMETHODCALLTYPE GetCount(UINT* count) override {
    if (count == nullptr) return E_POINTER;
    if (FAILED(owner_.countResult)) return owner_.countResult;
    *count = static_cast<UINT>(owner_.endpoints_.size());
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Item(UINT index, IMMDevice** device) override {
    if (device == nullptr) return E_POINTER;
    *device = nullptr;
    if (static_cast<int>(index) == owner_.failingItem) return E_FAIL;
    if (index >= owner_.endpoints_.size()) return E_INVALIDARG;
    *device = owner_.endpoints_[index]->HandOut();
    return S_OK;
  }

 private:
  FakeMMDeviceEnumerator& owner_;
};

FakeMMDeviceEnumerator::FakeMMDeviceEnumerator(std::vector<FakeEndpointSpec> endpoints)
    : FakeComObject<IMMDeviceEnumerator>(__uuidof(IMMDeviceEnumerator)),
      collection_(std::make_unique<FakeEndpointCollection>(*this)) {
  for (FakeEndpointSpec& setup : endpoints) {
    endpoints_.push_back(std::make_unique<FakeEndpoint>(std::move(setup)));
  }
}

FakeMMDeviceEnumerator::~FakeMMDeviceEnumerator() = default;

HRESULT FakeMMDeviceEnumerator::EnumAudioEndpoints(EDataFlow flow, DWORD stateMask,
                                                   IMMDeviceCollection** devices) {
  requestedFlow = flow;
  requestedStateMask = stateMask;
  if (devices == nullptr) return E_POINTER;
  *devices = nullptr;
  if (FAILED(enumResult)) return enumResult;
  *devices = collection_->HandOut();
  return S_OK;
}

bool FakeMMDeviceEnumerator::AllReleased() const {
  if (outstanding() != 0 || collection_->outstanding() != 0) return false;
  for (const auto& endpoint : endpoints_) {
    if (!endpoint->AllReleased()) return false;
  }
  return true;
}

ScopedFakeMMDeviceEnumerator::ScopedFakeMMDeviceEnumerator(
    std::vector<FakeEndpointSpec> endpoints)
    : enumerator_(std::move(endpoints)), factory_(&enumerator_) {
  registration_ = std::make_unique<ScopedClassRegistration>(kMMDeviceEnumeratorClsid, &factory_);
}

ScopedFakeMMDeviceEnumerator::~ScopedFakeMMDeviceEnumerator() = default;

std::vector<void*> FakeMMDeviceEnumerator::HandedOutTexts() const {
  std::vector<void*> texts;
  for (const auto& endpoint : endpoints_) endpoint->AppendTexts(texts);
  return texts;
}

std::vector<FakeEndpointSpec> MakeFakeEndpoints(int count) {
  std::vector<FakeEndpointSpec> endpoints(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) {
    FakeEndpointSpec& setup = endpoints[static_cast<std::size_t>(i)];
    setup.friendlyName = L"Fake Mic " + std::to_wstring(i);
    setup.guid = L"{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F" + std::to_wstring(i) + L"}";
    setup.endpointId = L"fake-endpoint-" + std::to_wstring(i);
  }
  return endpoints;
}

}  // namespace kestrel_test
