// kestrelCliLib loaded at run time, and a handle open for the length of one command.
// Loading is the only platform-specific part (library_win.cpp, library_linux.cpp).
#pragma once

#include <optional>
#include <string>
#include <type_traits>

#include "console.h"
#include "kestrelCliLib.h"

namespace mmdrctl {

// The exported functions, looked up by name in the loaded library.
struct MmdrApi {
  decltype(&Mmdr_Init) init = nullptr;
  decltype(&Mmdr_Uninit) uninit = nullptr;
  decltype(&Mmdr_IsValid) isValid = nullptr;
  decltype(&Mmdr_GetLibVersion) getLibVersion = nullptr;
  decltype(&Mmdr_IsEnabled) isEnabled = nullptr;
  decltype(&Mmdr_EnumDevices) enumDevices = nullptr;
  decltype(&Mmdr_GetPrefDev) getPrefDev = nullptr;
  decltype(&Mmdr_SetPrefDev) setPrefDev = nullptr;
  decltype(&Mmdr_GetAudioInSelectOption) getAudioInSelectOption = nullptr;
  decltype(&Mmdr_SetAudioInSelectOption) setAudioInSelectOption = nullptr;
  decltype(&Mmdr_WatchDevices) watchDevices = nullptr;
};

// Loads the library from dllPath (UTF-8; a relative path names a file under the current
// folder), or without one the library that belongs to this program, and looks up every
// export. On failure it has said why on standard error. The library stays loaded until
// the process ends.
std::optional<MmdrApi> LoadApi(const std::optional<std::string>& dllPath);

// Sets KESTREL_LOG=level in this process's environment, where the library reads it at
// Mmdr_Init (on Windows through the system's environment block, which the library's own C
// runtime would not see).
void AskLibraryToLog(const std::string& level);

// Every export looked up through find(name), the platform's lookup in the loaded library
// (a void*, null when missing); a missing one is named on standard error.
template <typename Find>
std::optional<MmdrApi> ResolveApi(const std::string& library, Find&& find) {
  MmdrApi api;
  bool complete = true;
  auto resolve = [&](const char* name, auto& function) {
    if (!complete) return;
    function = reinterpret_cast<std::remove_reference_t<decltype(function)>>(find(name));
    if (function == nullptr) {
      Error("%s does not export %s", library.c_str(), name);
      complete = false;
    }
  };
  resolve("Mmdr_Init", api.init);
  resolve("Mmdr_Uninit", api.uninit);
  resolve("Mmdr_IsValid", api.isValid);
  resolve("Mmdr_GetLibVersion", api.getLibVersion);
  resolve("Mmdr_IsEnabled", api.isEnabled);
  resolve("Mmdr_EnumDevices", api.enumDevices);
  resolve("Mmdr_GetPrefDev", api.getPrefDev);
  resolve("Mmdr_SetPrefDev", api.setPrefDev);
  resolve("Mmdr_GetAudioInSelectOption", api.getAudioInSelectOption);
  resolve("Mmdr_SetAudioInSelectOption", api.setAudioInSelectOption);
  resolve("Mmdr_WatchDevices", api.watchDevices);
  if (!complete) return std::nullopt;
  return api;
}

// An open handle for the length of one command.
class Session {
 public:
  explicit Session(const MmdrApi& api) : api_(api) {}
  ~Session() {
    if (handle_ != nullptr) api_.uninit(handle_);
  }
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  bool Open() {
    const MmdrResult result = api_.init(MMDR_MODE_1, &handle_);
    if (result != MMDR_OK) {
      CallFailed("Mmdr_Init", result);
      handle_ = nullptr;
      return false;
    }
    return true;
  }
  MmdrHandle* handle() const { return handle_; }

 private:
  const MmdrApi& api_;
  MmdrHandle* handle_ = nullptr;
};

}  // namespace mmdrctl
