#include "interface/mmdr_library.h"

#include <gtest/gtest.h>

#include <cstring>

namespace kestrel_test {
namespace {

template <typename Function>
void Resolve(HMODULE module, const char* name, Function& function) {
  function = reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
  EXPECT_NE(function, nullptr) << "kestrelCliLib.dll does not export " << name;
}

MmdrLibrary LoadLibraryOnce() {
  MmdrLibrary library;
  wchar_t exePath[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, exePath, MAX_PATH);
  std::wstring path = exePath;
  path.resize(path.find_last_of(L"\\/") + 1);
  path += L"kestrelCliLib.dll";
  HMODULE module = LoadLibraryW(path.c_str());
  EXPECT_NE(module, nullptr) << "cannot load kestrelCliLib.dll beside the test program";
  if (module == nullptr) return library;
  Resolve(module, "Mmdr_Init", library.Init);
  Resolve(module, "Mmdr_Uninit", library.Uninit);
  Resolve(module, "Mmdr_IsValid", library.IsValid);
  Resolve(module, "Mmdr_GetLibVersion", library.GetLibVersion);
  Resolve(module, "Mmdr_IsEnabled", library.IsEnabled);
  Resolve(module, "Mmdr_EnumDevices", library.EnumDevices);
  Resolve(module, "Mmdr_GetPrefDev", library.GetPrefDev);
  Resolve(module, "Mmdr_SetPrefDev", library.SetPrefDev);
  Resolve(module, "Mmdr_GetAudioInSelectOption", library.GetAudioInSelectOption);
  Resolve(module, "Mmdr_SetAudioInSelectOption", library.SetAudioInSelectOption);
  return library;
}

}  // namespace

const MmdrLibrary& Mmdr() {
  static const MmdrLibrary library = LoadLibraryOnce();
  return library;
}

ScopedMmdrHandle::ScopedMmdrHandle() {
  EXPECT_EQ(Mmdr().Init(MMDR_MODE_1, &handle_), MMDR_OK);
}

ScopedMmdrHandle::~ScopedMmdrHandle() {
  if (handle_ != nullptr) Mmdr().Uninit(handle_);
}

std::vector<EnumeratedDevice> EnumerateThroughDll(MmdrHandle* handle, MmdrDeviceKind kind) {
  std::vector<EnumeratedDevice> devices;
  std::uint32_t count = 0xFFFFFFFF;
  const MmdrResult first = Mmdr().EnumDevices(handle, kind, 0, nullptr, &count);
  if (count == 0) {
    EXPECT_EQ(first, MMDR_OK);
    return devices;
  }
  EXPECT_EQ(first, MMDR_BUFFER_TOO_SMALL);
  std::vector<MmdrDeviceEntry> entries(count, MmdrDeviceEntry{});
  std::uint32_t secondCount = 0;
  EXPECT_EQ(Mmdr().EnumDevices(handle, kind, count * MMDR_ENTRY_SIZE, entries.data(),
                               &secondCount),
            MMDR_OK);
  EXPECT_EQ(secondCount, count);
  for (const MmdrDeviceEntry& entry : entries) {
    devices.push_back({std::string(entry.id, strnlen(entry.id, MMDR_TEXT_FIELD_SIZE)),
                       std::string(entry.name, strnlen(entry.name, MMDR_TEXT_FIELD_SIZE))});
  }
  return devices;
}

std::string Utf8(const std::wstring& text) {
  if (text.empty()) return std::string();
  const int length = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), length,
                      nullptr, nullptr);
  return out;
}

}  // namespace kestrel_test
