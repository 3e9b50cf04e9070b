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
#include <memory>

#include "core/text_utils.h"
#include "devices/platform_ids.h"
#include "log/log.h"

using Microsoft::WRL::ComPtr;

namespace {

using DescriptionData = DSPROPERTY_DIRECTSOUNDDEVICE_DESCRIPTION_W_DATA;
// The block as dsound.dll exchanges it, per architecture.
#if defined(_WIN64)
static_assert(sizeof(DescriptionData) == 56 && offsetof(DescriptionData, Description) == 24 &&
                  offsetof(DescriptionData, Interface) == 40 &&
                  offsetof(DescriptionData, WaveDeviceId) == 48,
              "description block layout");
#else
static_assert(sizeof(DescriptionData) == 40 && offsetof(DescriptionData, Description) == 24 &&
                  offsetof(DescriptionData, Interface) == 32 &&
                  offsetof(DescriptionData, WaveDeviceId) == 36,
              "description block layout");
#endif

constexpr char kLoadName[] = "DSoundLib::LoadDSoundLib";
constexpr char kCallbackName[] = "DSoundLib::CaptureEnumCallback";

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
  HMODULE module = LoadLibraryExW(L"dsound.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (module != nullptr || GetLastError() != ERROR_INVALID_PARAMETER) return module;
  // A Windows 7 without the loader update refuses the flag: name the system directory
  // ourselves, never leaving the file to the search path.
  wchar_t path[MAX_PATH];
  const UINT length = GetSystemDirectoryW(path, MAX_PATH);
  if (length == 0 || FAILED(StringCchCatW(path, MAX_PATH, L"\\dsound.dll"))) return nullptr;
  return LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

FARPROC ResolveExport(HMODULE module, const char* exportName) {
  return GetProcAddress(module, exportName);
}

constexpr DSoundModuleLoader kSystemLoader = {&LoadSystemDSound, &ResolveExport};

}  // namespace

RwLock DSoundLib::lock_;
DSoundLib* DSoundLib::instance_ = nullptr;
std::int32_t DSoundLib::referenceCount_ = 0;
const DSoundModuleLoader* DSoundLib::loader_ = &kSystemLoader;

DSoundLib::DSoundLib() = default;

// Runs under lock_ only: from UninitInstance, or from InitInstance after a failed load.
// (The analysis does not look into destructors.)
DSoundLib::~DSoundLib() { UnloadDSoundLibLocked(this); }

bool DSoundLib::InitInstance() {
  const ExclusiveHold hold(lock_);
  if (referenceCount_ == 0) {
    // Published only once loaded: a failure (or an exception) leaves no instance, no
    // reference and no module behind, and the next call tries again from the start.
    std::unique_ptr<DSoundLib, void (*)(DSoundLib*)> instance(
        new DSoundLib(), [](DSoundLib* unpublished) { delete unpublished; });
    if (!LoadDSoundLibLocked(instance.get())) return false;
    instance_ = instance.release();
  }
  ++referenceCount_;
  Log(kLogLevelTrivia, "%s - reference taken, count %d%s", "DSoundLib::InitInstance",
      static_cast<int>(referenceCount_), referenceCount_ == 1 ? ": dsound.dll loaded" : "");
  return true;
}

void DSoundLib::UninitInstance() noexcept {
  const ExclusiveHold hold(lock_);
  if (referenceCount_ == 0) return;
  if (--referenceCount_ == 0) {
    delete instance_;
    instance_ = nullptr;
  }
  Log(kLogLevelTrivia, "%s - reference released, count %d%s", "DSoundLib::UninitInstance",
      static_cast<int>(referenceCount_), referenceCount_ == 0 ? ": dsound.dll freed" : "");
}

DSoundLib* DSoundLib::GetInstanceForTesting() {
  const ExclusiveHold hold(lock_);
  return instance_;
}

std::int32_t DSoundLib::ReferenceCountForTesting() {
  const ExclusiveHold hold(lock_);
  return referenceCount_;
}

void DSoundLib::SetModuleLoaderForTesting(const DSoundModuleLoader* loader) {
  const ExclusiveHold hold(lock_);
  loader_ = loader != nullptr ? loader : &kSystemLoader;
}

bool DSoundLib::LoadDSoundLibLocked(DSoundLib* instance) {
  if (instance == nullptr) return false;
  const DSoundModuleLoader& loader = *loader_;
  // Every piece goes into a local owner first and into the instance only when all are
  // there, so a failure releases the pieces (the property object before its module).
  ScopedModule module(loader.load());
  if (!module) {
    LogLastError(kLoadName, L"LoadLibrary for loading dsound.dll failed");
    return false;
  }
  const auto captureEnumerate =
      ToFunction<CaptureEnumerateFn>(loader.resolve(module.get(), "DirectSoundCaptureEnumerateW"));
  if (captureEnumerate == nullptr) {
    LogLastError(kLoadName, L"GetProcAddress for DirectSoundCaptureEnumerateW failed");
    return false;
  }
  // The private class is not registered for CoCreateInstance; it is reached through the
  // library's own class object.
  const auto getClassObject =
      ToFunction<GetClassObjectFn>(loader.resolve(module.get(), "DllGetClassObject"));
  if (getClassObject == nullptr) {
    LogLastError(kLoadName, L"GetProcAddress for DllGetClassObject failed");
    return false;
  }
  ComPtr<IClassFactory> factory;
  if (getClassObject(kDirectSoundPrivateClsid, IID_IClassFactory,
                     reinterpret_cast<void**>(factory.GetAddressOf())) != S_OK ||
      !factory) {
    Log(kLogLevelError, "%s - Failed to create a Class Factory Object", kLoadName);
    return false;
  }
  ComPtr<IKsPropertySet> privateProps;
  const HRESULT hr = factory->CreateInstance(nullptr, kKsPropertySetIid,
                                             reinterpret_cast<void**>(privateProps.GetAddressOf()));
  if (FAILED(hr) || !privateProps) {
    Log(kLogLevelError, "%s - Failed to create DirectSoundPrivate Object", kLoadName);
    return false;
  }
  instance->module = std::move(module);
  instance->captureEnumerate = captureEnumerate;
  instance->privateProps = std::move(privateProps);
  instance->loaded = true;
  return true;
}

void DSoundLib::UnloadDSoundLibLocked(DSoundLib* instance) noexcept {
  if (instance == nullptr) return;
  instance->loaded = false;
  instance->privateProps.Reset();  // before the module that implements it goes
  instance->captureEnumerate = nullptr;
  instance->module.Reset();
}

bool DSoundLib::EnumCaptureDevicesLocked(DSoundLib* instance, DeviceInfoList& list) {
  if (instance == nullptr || !instance->loaded) {
    Log(kLogLevelError, "%s - Failed to initialize DSound lib", "DSoundLib::EnumCaptureDevices");
    return false;
  }
  instance->targetList = &list;
  const HRESULT hr = instance->captureEnumerate(&DSoundLib::CaptureEnumCallback, instance);
  instance->targetList = nullptr;  // the list belongs to the caller, which may go now
  if (hr != DS_OK) {
    Log(kLogLevelError, "%s - DirectSoundCaptureEnumerateW failed, error: %x.",
        "DSoundLib::EnumCaptureDevices", static_cast<unsigned>(hr));
  }
  return hr == DS_OK;
}

BOOL CALLBACK DSoundLib::CaptureEnumCallback(GUID* deviceGuid, const wchar_t* description,
                                             const wchar_t* /*module*/, void* context) {
  // Runs inside dsound.dll: nothing may escape from here, and one device that cannot
  // be described never stops the enumeration.
  const auto skip = [description](const wchar_t* reason) {
    LOG_WIDE(kLogLevelTrivia, "%s - \"%ls\": not listed, %ls", kCallbackName,
             description != nullptr ? description : L"", reason);
    return TRUE;
  };
  try {
    auto* instance = static_cast<DSoundLib*>(context);
    if (deviceGuid == nullptr) return skip(L"DirectSound's default-device entry");
    if (instance == nullptr || !instance->privateProps || instance->targetList == nullptr) {
      return TRUE;
    }

    DescriptionData block;
    std::memset(&block, 0, sizeof(block));
    block.DeviceId = *deviceGuid;
    ULONG returnedLength = 0;
    // Asked only for the length the full description needs; the result says nothing more.
    instance->privateProps->Get(kDirectSoundDevicePropSet, kDescriptionPropertyId, nullptr, 0,
                                &block, sizeof(block), &returnedLength);
    if (returnedLength == 0) return skip(L"no description");

    // At least the fixed block, whatever length was reported, so the copy always fits.
    const ULONG reserved = std::max<ULONG>(returnedLength, sizeof(block));
    if (reserved > 0x7FFFFFFF || !instance->propData.reserve(static_cast<std::int32_t>(reserved))) {
      return skip(L"no memory for its description");
    }
    void* buffer = instance->propData.data();
    if (buffer == nullptr) return TRUE;
    std::memcpy(buffer, &block, sizeof(block));
    if (FAILED(instance->privateProps->Get(kDirectSoundDevicePropSet, kDescriptionPropertyId,
                                           nullptr, 0, buffer, returnedLength, &returnedLength))) {
      return skip(L"no description");
    }
    const DescriptionData& description = *static_cast<const DescriptionData*>(buffer);
    if (description.Description == nullptr) return skip(L"no name");

    // The texts live in propData; copy them before anything reuses it.
    DeviceInfo device;
    device.index = description.WaveDeviceId;
    device.number = description.WaveDeviceId;
    device.name = description.Description;

    std::wstring guidText = ConvertGuidToString(*deviceGuid);
    LOG_WIDE(kLogLevelVerbose, "%s - guid: %ls", "ConvertGuidToString", guidText.c_str());
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
    LOG_WIDE(kLogLevelTrivia, "%s - \"%ls\": listed, id \"%ls\"", kCallbackName,
             device.name.c_str(), device.id.c_str());
    instance->targetList->push_back(std::move(device));
  } catch (...) {
    // Skip the device: an exception must not unwind through dsound.dll.
    return skip(L"its description failed");
  }
  return TRUE;
}

bool AudioCaptureWinDsound::EnumCaptureDevices(DeviceInfoList& list) {
  list.clear();
  const ExclusiveHold hold(DSoundLib::lock_);
  DSoundLib* instance = DSoundLib::instance_;
  if (instance == nullptr) {
    Log(kLogLevelError, "%s - Got a NULL DSoundLib instance",
        "AudioCaptureWinDsound::EnumCaptureDevices");
    return false;
  }
  return DSoundLib::EnumCaptureDevicesLocked(instance, list);
}

std::wstring ConvertGuidToString(const GUID& guid) {
  // "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}" from COM, which takes no va_list from us (Wine
  // for ARM64 reads one wrongly), in lower case.
  wchar_t text[39] = {};
  StringFromGUID2(guid, text, 39);
  return ConvertToLower(text);
}
