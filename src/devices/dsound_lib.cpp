// DirectSound capture enumeration. This file uses DirectSound's IKsPropertySet and must
// never include the DirectShow headers: strmif.h declares another IKsPropertySet, with a
// different method order, under the same include guard.
#include "devices/dsound_lib.h"

#include <windows.h>
#include <mmsystem.h>
#include <dsound.h>
#include <dsconf.h>
#include <strsafe.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <mutex>
#include <new>

#include "core/text_utils.h"
#include "devices/platform_ids.h"
#include "log/log.h"

using Microsoft::WRL::ComPtr;

namespace {


using DescriptionData = DSPROPERTY_DIRECTSOUNDDEVICE_DESCRIPTION_W_DATA;
#if defined(_WIN64)
static_assert(sizeof(DescriptionData) == 56, "description block layout");
static_assert(offsetof(DescriptionData, Description) == 24, "description block layout");
static_assert(offsetof(DescriptionData, Interface) == 40, "description block layout");
static_assert(offsetof(DescriptionData, WaveDeviceId) == 48, "description block layout");
#endif

// A description shorter than this yields a path of the wave device id alone.
constexpr std::size_t kBuiltPathSkippedChars = 35;

using GetClassObjectFn = HRESULT(WINAPI*)(REFCLSID clsid, REFIID iid, void** object);

template <typename Function>
Function ToFunction(FARPROC proc) {
  // Through the generic function type, which casts to any other without a warning.
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(proc));
}

// Only the system directory: a dsound.dll planted next to the host or in the current
// directory must never be loaded into the caller's process.
HMODULE LoadSystemDSound() {
  return LoadLibraryExW(L"dsound.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
}

FARPROC ResolveExport(HMODULE module, const char* exportName) {
  return GetProcAddress(module, exportName);
}

constexpr DSoundModuleLoader kSystemLoader = {&LoadSystemDSound, &ResolveExport};

// One lock serialises the instance's creation at the first reference, its destruction
// at the last, and every enumeration: so two threads can neither load twice, nor free
// the library under a running enumeration, nor share the scratch buffer and target
// list. Recursive, because the public operations also call one another.
std::recursive_mutex& DSoundLock() {
  static std::recursive_mutex lock;
  return lock;
}

std::atomic<DSoundLib*> g_instance{nullptr};
std::atomic<std::int32_t> g_referenceCount{0};
const DSoundModuleLoader* g_loader = &kSystemLoader;

}  // namespace

DSoundLib::DSoundLib() = default;

DSoundLib::~DSoundLib() { UnloadDSoundLib(this); }

bool DSoundLib::InitInstance() {
  std::lock_guard<std::recursive_mutex> hold(DSoundLock());
  if (g_referenceCount.load() == 0) {
    DSoundLib* instance = new (std::nothrow) DSoundLib();
    if (instance == nullptr) return false;
    g_instance.store(instance);
    instance->loaded = LoadDSoundLib(instance);
    if (!instance->loaded) {
      g_instance.store(nullptr);
      delete instance;
      return false;  // no reference taken: the next call tries again from the start
    }
  }
  g_referenceCount.fetch_add(1);
  return g_instance.load() != nullptr;
}

void DSoundLib::UninitInstance() {
  std::lock_guard<std::recursive_mutex> hold(DSoundLock());
  if (g_referenceCount.load() == 0) return;
  if (g_referenceCount.fetch_sub(1) == 1) {
    delete g_instance.exchange(nullptr);
  }
}

DSoundLib* DSoundLib::GetInstance() { return g_instance.load(); }

std::int32_t DSoundLib::ReferenceCount() { return g_referenceCount.load(); }

void DSoundLib::SetModuleLoaderForTesting(const DSoundModuleLoader* loader) {
  std::lock_guard<std::recursive_mutex> hold(DSoundLock());
  g_loader = loader != nullptr ? loader : &kSystemLoader;
}

bool DSoundLib::LoadDSoundLib(DSoundLib* instance) {
  static const wchar_t kName[] = L"DSoundLib::LoadDSoundLib";
  if (instance == nullptr) return false;
  std::lock_guard<std::recursive_mutex> hold(DSoundLock());
  const DSoundModuleLoader& loader = *g_loader;
  UnloadDSoundLib(instance);  // a second load on one instance starts from nothing

  const HMODULE module = loader.load();
  if (module == nullptr) {
    LogLastError(kName, L"LoadLibrary for loading dsound.dll failed");
    return false;
  }
  instance->module.Reset(module);

  instance->captureEnumerate =
      ToFunction<CaptureEnumerateFn>(loader.resolve(module, "DirectSoundCaptureEnumerateW"));
  if (instance->captureEnumerate == nullptr) {
    LogLastError(kName, L"GetProcAddress for DirectSoundCaptureEnumerateW failed");
    UnloadDSoundLib(instance);
    return false;
  }
  // Only needed here: the private class is not registered for CoCreateInstance, it is
  // reached through the library's own class object.
  const auto getClassObject =
      ToFunction<GetClassObjectFn>(loader.resolve(module, "DllGetClassObject"));
  if (getClassObject == nullptr) {
    LogLastError(kName, L"GetProcAddress for DllGetClassObject failed");
    UnloadDSoundLib(instance);
    return false;
  }

  ComPtr<IClassFactory> factory;
  if (getClassObject(kDirectSoundPrivateClsid, IID_IClassFactory,
                     reinterpret_cast<void**>(factory.GetAddressOf())) != S_OK ||
      !factory) {
    factory.Reset();
    Log(kLogLevelError, "%s - Failed to create a Class Factory Object", "DSoundLib::LoadDSoundLib");
    UnloadDSoundLib(instance);
    return false;
  }
  ComPtr<IKsPropertySet> privateProps;
  const HRESULT hr = factory->CreateInstance(
      nullptr, kKsPropertySetIid, reinterpret_cast<void**>(privateProps.GetAddressOf()));
  factory.Reset();
  if (FAILED(hr) || !privateProps) {
    Log(kLogLevelError, "%s - Failed to create DirectSoundPrivate Object",
        "DSoundLib::LoadDSoundLib");
    privateProps.Reset();
    UnloadDSoundLib(instance);
    return false;
  }
  instance->privateProps = std::move(privateProps);
  return true;
}

void DSoundLib::UnloadDSoundLib(DSoundLib* instance) {
  if (instance == nullptr) return;
  std::lock_guard<std::recursive_mutex> hold(DSoundLock());
  instance->loaded = false;
  instance->privateProps.Reset();  // before the module that implements it goes
  instance->captureEnumerate = nullptr;
  instance->module.Reset();
}

bool DSoundLib::EnumCaptureDevices(DSoundLib* instance, DeviceInfoList& list) {
  std::lock_guard<std::recursive_mutex> hold(DSoundLock());
  if (instance == nullptr || !instance->loaded) {
    Log(kLogLevelError, "%s - Failed to initialize DSound lib", "DSoundLib::EnumCaptureDevices");
    return false;
  }
  instance->targetList = &list;
  const HRESULT hr = instance->captureEnumerate(&DSoundLib::CaptureEnumCallback, instance);
  instance->targetList = nullptr;  // the list belongs to the caller, which may go now
  return hr == DS_OK;
}

BOOL CALLBACK DSoundLib::CaptureEnumCallback(GUID* deviceGuid, const wchar_t* /*description*/,
                                             const wchar_t* /*module*/, void* context) {
  // Runs inside dsound.dll: nothing may escape from here, and one device that cannot
  // be described never stops the enumeration.
  try {
    // A null GUID is DirectSound's default-device entry, which we skip.
    auto* instance = static_cast<DSoundLib*>(context);
    if (deviceGuid == nullptr || instance == nullptr || !instance->privateProps ||
        instance->targetList == nullptr) {
      return TRUE;
    }

    DescriptionData block;
    std::memset(&block, 0, sizeof(block));
    block.DeviceId = *deviceGuid;
    ULONG returnedLength = 0;
    // Asked only for the length the full description needs; the result says nothing more.
    instance->privateProps->Get(kDirectSoundDevicePropSet, kDescriptionPropertyId, nullptr, 0,
                                &block, sizeof(block), &returnedLength);
    if (returnedLength == 0) return TRUE;

    // At least the fixed block, whatever length was reported, so the copy always fits.
    const ULONG reserved = std::max<ULONG>(returnedLength, sizeof(block));
    if (reserved > 0x7FFFFFFF || !instance->propData.reserve(static_cast<std::int32_t>(reserved))) {
      return TRUE;
    }
    void* buffer = instance->propData.data();
    if (buffer == nullptr) return TRUE;
    std::memcpy(buffer, &block, sizeof(block));
    if (FAILED(instance->privateProps->Get(kDirectSoundDevicePropSet, kDescriptionPropertyId,
                                           nullptr, 0, buffer, returnedLength,
                                           &returnedLength))) {
      return TRUE;
    }
    const DescriptionData& description = *static_cast<const DescriptionData*>(buffer);
    if (description.Description == nullptr) return TRUE;

    // The texts live in propData; copy them before anything reuses it.
    DeviceInfo device;
    device.index = description.WaveDeviceId;
    device.number = description.WaveDeviceId;
    device.name = description.Description;

    std::wstring guidText = ConvertGuidToString(*deviceGuid);
    LogWide(kLogLevelVerbose, L"%s - guid: %s", L"ConvertGuidToString", guidText.c_str());
    device.guid = std::move(guidText);

    if (description.Interface != nullptr) {
      device.path = description.Interface;
    } else {
      // Without an interface text the path is the description past its first 35
      // characters followed by the wave device id; a shorter description gives the id alone.
      std::wstring waveDeviceId;
      ConvertDWORDToString(description.WaveDeviceId, waveDeviceId);
      if (device.name.size() > kBuiltPathSkippedChars) {
        device.path = device.name.substr(kBuiltPathSkippedChars);
      }
      device.path += waveDeviceId;
    }
    device.id = device.path;
    instance->targetList->push_back(std::move(device));
  } catch (...) {
    // Skip the device: an exception must not unwind through dsound.dll.
  }
  return TRUE;
}

bool AudioCaptureWinDsound::EnumCaptureDevices(DeviceInfoList& list) {
  list.clear();
  std::lock_guard<std::recursive_mutex> hold(DSoundLock());
  DSoundLib* instance = DSoundLib::GetInstance();
  if (instance == nullptr) {
    Log(kLogLevelError, "%s - Got a NULL DSoundLib instance",
        "AudioCaptureWinDsound::EnumCaptureDevices");
    return false;
  }
  return DSoundLib::EnumCaptureDevices(instance, list);
}

std::wstring ConvertGuidToString(const GUID& guid) {
  wchar_t text[128] = {};
  const unsigned clockSeq = (static_cast<unsigned>(guid.Data4[0]) << 8) | guid.Data4[1];
  StringCchPrintfW(text, 128, L"{%08x-%04x-%04x-%04x-%02x%02x%02x%02x%02x%02x}",
                   static_cast<unsigned>(guid.Data1), static_cast<unsigned>(guid.Data2),
                   static_cast<unsigned>(guid.Data3), clockSeq,
                   static_cast<unsigned>(guid.Data4[2]), static_cast<unsigned>(guid.Data4[3]),
                   static_cast<unsigned>(guid.Data4[4]), static_cast<unsigned>(guid.Data4[5]),
                   static_cast<unsigned>(guid.Data4[6]), static_cast<unsigned>(guid.Data4[7]));
  return text;
}
