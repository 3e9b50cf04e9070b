// DirectSound's IKsPropertySet: this file must not include the DirectShow headers.
#include "support/fake_dsound_win.h"

#include <mmsystem.h>
#include <dsound.h>
#include <dsconf.h>

#include <cstring>
#include <new>
#include <stdexcept>

#include "devices/dsound_lib.h"
#include "devices/platform_ids.h"
#include "support/fake_com_win.h"

namespace kestrel_test {
namespace {

using DescriptionData = DSPROPERTY_DIRECTSOUNDDEVICE_DESCRIPTION_W_DATA;

class FakePrivateProperties : public FakeComObject<IKsPropertySet> {
 public:
  explicit FakePrivateProperties(const std::vector<FakeDsoundDevice>& devices)
      : FakeComObject(kKsPropertySetIid), devices_(devices) {}

  // Lays the description out as dsound.dll does: the fixed block, then the texts it
  // points at, inside the caller's buffer.
  HRESULT STDMETHODCALLTYPE Get(REFGUID, ULONG, void*, ULONG, void* data, ULONG dataLength,
                                ULONG* returned) override {
    auto* block = static_cast<DescriptionData*>(data);
    const FakeDsoundDevice* device = nullptr;
    for (const FakeDsoundDevice& candidate : devices_) {
      if (IsEqualGUID(candidate.guid.value_or(GUID_NULL), block->DeviceId)) device = &candidate;
    }
    if (device == nullptr) return E_INVALIDARG;
    if (device->throwOnDescribe) throw std::runtime_error("driver fault");
    const std::wstring interfaceText = device->interfaceText.value_or(L"");
    const ULONG needed = static_cast<ULONG>(
        sizeof(DescriptionData) +
        (device->description.size() + interfaceText.size() + 2) * sizeof(wchar_t));
    const bool firstCall = dataLength == sizeof(DescriptionData);
    *returned = firstCall && device->reportedLength != 0 ? device->reportedLength : needed;
    if (dataLength < needed) return E_INVALIDARG;

    auto* texts = reinterpret_cast<wchar_t*>(block + 1);
    auto put = [&texts](const std::wstring& text) {
      wchar_t* start = texts;
      std::memcpy(texts, text.c_str(), (text.size() + 1) * sizeof(wchar_t));
      texts += text.size() + 1;
      return start;
    };
    block->Description = device->nullDescription ? nullptr : put(device->description);
    block->Interface = device->interfaceText ? put(interfaceText) : nullptr;
    block->WaveDeviceId = device->waveDeviceId;
    return device->describeFails ? E_FAIL : S_OK;  // a failure that still filled the block
  }
  // The object lives in dsound.dll: releasing it after the module has gone would crash.
  ULONG STDMETHODCALLTYPE Release() override {
    releasedWithoutModule |= !FakeDirectSound::StandInLoaded();
    return FakeComObject::Release();
  }
  bool releasedWithoutModule = false;
  HRESULT STDMETHODCALLTYPE Set(REFGUID, ULONG, void*, ULONG, void*, ULONG) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE QuerySupport(REFGUID, ULONG, ULONG*) override { return E_NOTIMPL; }

 private:
  const std::vector<FakeDsoundDevice>& devices_;
};

// Loaded by nothing else in a test program, and freed by one FreeLibrary (the real
// dsound.dll keeps a reference on itself under Wine, which would hide a leak).
constexpr wchar_t kStandInModule[] = L"dciman32.dll";

}  // namespace

struct FakeDirectSound::State {
  State(std::vector<FakeDsoundDevice> list, FakeDsoundFault f, FakeDirectSound* o)
      : devices(std::move(list)), fault(f), owner(o), properties(devices), factory(&properties) {}
  std::vector<FakeDsoundDevice> devices;
  FakeDsoundFault fault;
  FakeDirectSound* owner;
  FakePrivateProperties properties;
  FakeClassFactory factory;
  int loads = 0;
};

namespace {

FakeDirectSound::State* g_current = nullptr;

HMODULE FakeLoad() {
  ++g_current->loads;
  if (g_current->fault == FakeDsoundFault::LoadFails) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  return LoadLibraryExW(kStandInModule, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
}

HRESULT WINAPI FakeCaptureEnumerate(DSoundLib::CaptureEnumCallbackFn callback, void* context) {
  if (g_current->owner->duringEnumeration) g_current->owner->duringEnumeration();
  for (FakeDsoundDevice& device : g_current->devices) {
    // FALSE stops the enumeration, as it does DirectSound's.
    const wchar_t* description = device.description.empty() ? nullptr : device.description.c_str();
    if (!callback(device.guid ? &*device.guid : nullptr, description, L"fake.vxd", context)) {
      break;
    }
  }
  return g_current->owner->enumerateResult;
}

HRESULT WINAPI FakeGetClassObject(REFCLSID, REFIID iid, void** object) {
  *object = nullptr;
  g_current->factory.QueryInterface(iid, object);
  return g_current->fault == FakeDsoundFault::ClassObjectNotOk ? S_FALSE : S_OK;
}

template <typename Function>
FARPROC ToFarProc(Function function) {
  return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(function));
}

FARPROC FakeResolve(HMODULE, const char* name) {
  const FakeDsoundFault fault = g_current->fault;
  if (fault == FakeDsoundFault::ResolveThrows) throw std::bad_alloc();
  if (std::strcmp(name, "DirectSoundCaptureEnumerateW") == 0 &&
      fault != FakeDsoundFault::NoCaptureEnumerate) {
    return ToFarProc(&FakeCaptureEnumerate);
  }
  if (std::strcmp(name, "DllGetClassObject") == 0 && fault != FakeDsoundFault::NoGetClassObject) {
    return ToFarProc(&FakeGetClassObject);
  }
  SetLastError(ERROR_PROC_NOT_FOUND);
  return nullptr;
}

constexpr DSoundModuleLoader kFakeLoader = {&FakeLoad, &FakeResolve};

}  // namespace

FakeDirectSound::FakeDirectSound(std::vector<FakeDsoundDevice> devices, FakeDsoundFault fault)
    : state_(std::make_unique<State>(std::move(devices), fault, this)) {
  if (fault == FakeDsoundFault::PropertyObjectRefused) state_->factory.createResult = E_OUTOFMEMORY;
  g_current = state_.get();
  DSoundLib::SetModuleLoaderForTesting(&kFakeLoader);
}

FakeDirectSound::~FakeDirectSound() {
  DSoundLib::SetModuleLoaderForTesting(nullptr);
  g_current = nullptr;
}

bool FakeDirectSound::StandInLoaded() { return GetModuleHandleW(kStandInModule) != nullptr; }

int FakeDirectSound::loads() const { return state_->loads; }

bool FakeDirectSound::AllReleased() const {
  return state_->factory.outstanding() == 0 && state_->properties.outstanding() == 0 &&
         !state_->properties.releasedWithoutModule;
}

}  // namespace kestrel_test
