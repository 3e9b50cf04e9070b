// kestrelCliLib loaded at run time, and a handle open for the length of one command.
// Loading is the only platform-specific part (library_win.cpp).
#pragma once

#include <optional>
#include <string>

#include "console.h"
#include "kestrelCliLib.h"

namespace mmdrctl {

// The ten exported functions, looked up by name in the loaded library.
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
};

// Loads the library from dllPath (UTF-8), or without one from beside this program, and
// looks up every export. On failure it has said why on standard error. The library
// stays loaded until the process ends.
std::optional<MmdrApi> LoadApi(const std::optional<std::string>& dllPath);

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
