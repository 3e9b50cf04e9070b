// DirectSound's IKsPropertySet: this file must not include the DirectShow headers.
#include "support/fake_dsound.h"

#include <mmsystem.h>
#include <dsound.h>
#include <dsconf.h>

#include <cstring>
#include <stdexcept>

#include "devices/dsound_lib.h"
#include "devices/platform_ids.h"
#include "support/fake_com.h"

namespace kestrel_test {

namespace {


using DescriptionData = DSPROPERTY_DIRECTSOUNDDEVICE_DESCRIPTION_W_DATA;

class FakePrivateProperties : public FakeComObject<IKsPropertySet> {
 public:
  explicit FakePrivateProperties(const std::vector<FakeDsoundDevice>& devices)
      : FakeComObject<IKsPropertySet>(kKsPropertySetIid), devices_(devices) {}

  // Lays the description out as dsound.dll does: the fixed block, then the texts, with
  // the block's pointers into the caller's buffer.
  HRESULT STDMETHODCALLTYPE Get(REFGUID, ULONG, void*, ULONG, void* data, ULONG dataLength,
                                ULONG* returned) override {
    if (data == nullptr || dataLength < sizeof(GUID) + 8 || returned == nullptr) {
      return E_INVALIDARG;
    }
    auto* block = static_cast<DescriptionData*>(data);
    const FakeDsoundDevice* device = Find(block->DeviceId);
    if (device == nullptr) return E_INVALIDARG;
    if (device->throwOnDescribe) throw std::runtime_error("driver fault");

    const std::size_t textsBytes =
        (device->description.size() + 1 + device->module.size() + 1 +
         (device->interfaceText ? device->interfaceText->size() + 1 : 0)) *
        sizeof(wchar_t);
    const ULONG needed = static_cast<ULONG>(sizeof(DescriptionData) + textsBytes);
    const bool firstCall = dataLength == sizeof(DescriptionData);
    if (firstCall && device->reportsNoLength) {
      *returned = 0;
      return E_INVALIDARG;
    }
    if (firstCall && device->reportedLength != 0) {
      *returned = device->reportedLength;
      return E_INVALIDARG;
    }
    *returned = needed;
    if (dataLength < needed) return E_INVALIDARG;
    if (device->describeFails) return E_FAIL;

    auto* texts = reinterpret_cast<wchar_t*>(static_cast<char*>(data) + sizeof(DescriptionData));
    auto put = [&texts](const std::wstring& text) {
      wchar_t* start = texts;
      std::memcpy(texts, text.c_str(), (text.size() + 1) * sizeof(wchar_t));
      texts += text.size() + 1;
      return start;
    };
    block->Type = DIRECTSOUNDDEVICE_TYPE_WDM;
    block->DataFlow = DIRECTSOUNDDEVICE_DATAFLOW_CAPTURE;
    block->Description = device->nullDescription ? nullptr : put(device->description);
    block->Module = put(device->module);
    block->Interface = device->interfaceText ? put(*device->interfaceText) : nullptr;
    block->WaveDeviceId = device->waveDeviceId;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Set(REFGUID, ULONG, void*, ULONG, void*, ULONG) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE QuerySupport(REFGUID, ULONG, ULONG*) override { return E_NOTIMPL; }

 private:
  // As DirectSound does, GUID_NULL describes the default-device entry.
  const FakeDsoundDevice* Find(const GUID& id) const {
    for (const FakeDsoundDevice& device : devices_) {
      if (device.guid ? IsEqualGUID(*device.guid, id) : IsEqualGUID(GUID_NULL, id)) {
        return &device;
      }
    }
    return nullptr;
  }

  const std::vector<FakeDsoundDevice>& devices_;
};

}  // namespace

struct FakeDirectSound::State {
  explicit State(std::vector<FakeDsoundDevice> list, FakeDsoundFault f)
      : devices(std::move(list)), fault(f), properties(devices), factory(&properties) {}

  std::vector<FakeDsoundDevice> devices;
  FakeDsoundFault fault;
  HRESULT* enumerateResult = nullptr;
  std::function<void()>* duringEnumeration = nullptr;
  FakePrivateProperties properties;
  FakeClassFactory factory;
  int loads = 0;
  int enumerations = 0;
};

namespace {

FakeDirectSound::State* g_current = nullptr;

// Loaded by nothing else in a test program, and freed by one FreeLibrary (real
// dsound.dll keeps a reference on itself under Wine, which would hide a leak).
constexpr wchar_t kStandInModule[] = L"dciman32.dll";

HMODULE FakeLoad() {
  ++g_current->loads;
  if (g_current->fault == FakeDsoundFault::LoadLibraryFails) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  return LoadLibraryExW(kStandInModule, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
}

HRESULT WINAPI FakeCaptureEnumerate(DSoundLib::CaptureEnumCallbackFn callback, void* context) {
  ++g_current->enumerations;
  if (*g_current->duringEnumeration) (*g_current->duringEnumeration)();
  for (FakeDsoundDevice& device : g_current->devices) {
    GUID* guid = device.guid ? &*device.guid : nullptr;
    if (!callback(guid, device.description.c_str(), device.module.c_str(), context)) break;
  }
  return *g_current->enumerateResult;
}

HRESULT WINAPI FakeGetClassObject(REFCLSID, REFIID iid, void** object) {
  *object = nullptr;
  switch (g_current->fault) {
    case FakeDsoundFault::ClassObjectRefused:
      return CLASS_E_CLASSNOTAVAILABLE;
    case FakeDsoundFault::ClassObjectNotOk:
      g_current->factory.QueryInterface(iid, object);
      return S_FALSE;
    case FakeDsoundFault::ClassObjectOkNoFactory:
      return S_OK;
    default:
      return g_current->factory.QueryInterface(iid, object);
  }
}

template <typename Function>
FARPROC ToFarProc(Function function) {
  return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(function));
}

FARPROC FakeResolve(HMODULE, const char* name) {
  const FakeDsoundFault fault = g_current->fault;
  if (std::strcmp(name, "DirectSoundCaptureEnumerateW") == 0) {
    if (fault != FakeDsoundFault::NoCaptureEnumerate) return ToFarProc(&FakeCaptureEnumerate);
  } else if (std::strcmp(name, "DllGetClassObject") == 0) {
    if (fault != FakeDsoundFault::NoGetClassObject) return ToFarProc(&FakeGetClassObject);
  }
  SetLastError(ERROR_PROC_NOT_FOUND);
  return nullptr;
}

constexpr DSoundModuleLoader kFakeLoader = {&FakeLoad, &FakeResolve};

}  // namespace

FakeDirectSound::FakeDirectSound(std::vector<FakeDsoundDevice> devices, FakeDsoundFault fault)
    : state_(std::make_unique<State>(std::move(devices), fault)) {
  state_->enumerateResult = &enumerateResult;
  state_->duringEnumeration = &duringEnumeration;
  if (fault == FakeDsoundFault::PropertyObjectRefused ||
      fault == FakeDsoundFault::PropertyObjectRefusedWithObject) {
    state_->factory.set_create_result(E_OUTOFMEMORY);
    state_->factory.set_hand_out_on_failure(fault == FakeDsoundFault::PropertyObjectRefusedWithObject);
  }
  g_current = state_.get();
  DSoundLib::SetModuleLoaderForTesting(&kFakeLoader);
}

FakeDirectSound::~FakeDirectSound() {
  DSoundLib::SetModuleLoaderForTesting(nullptr);
  g_current = nullptr;
}

bool FakeDirectSound::StandInLoaded() { return GetModuleHandleW(kStandInModule) != nullptr; }

int FakeDirectSound::loads() const { return state_->loads; }
int FakeDirectSound::enumerations() const { return state_->enumerations; }

bool FakeDirectSound::AllReleased() const {
  return state_->factory.outstanding() == 0 && state_->properties.outstanding() == 0;
}

}  // namespace kestrel_test
