// Loads kestrelCliLib.dll with LoadLibraryExW and looks its exports up by name.
#include <windows.h>

#include <cstddef>

#include "core/utf8.h"
#include "library.h"

namespace mmdrctl {
namespace {

std::wstring DllBesideExe() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) {
      return L"kestrelCliLib.dll";
    }
    if (length < path.size()) {
      path.resize(length);
      break;
    }
    path.resize(path.size() * 2);
  }
  const std::size_t slash = path.find_last_of(L"\\/");
  path.resize(slash == std::wstring::npos ? 0 : slash + 1);
  return path + L"kestrelCliLib.dll";
}

// A path made absolute against the current directory (empty when the system refuses
// it): with a relative path the altered search order is undefined.
std::wstring FullPath(const std::wstring& path) {
  const DWORD size = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  std::wstring full(size, L'\0');
  const DWORD length = size == 0 ? 0 : GetFullPathNameW(path.c_str(), size, full.data(), nullptr);
  full.resize(length < size ? length : 0);
  return full;
}

}  // namespace

void AskLibraryToLog(const std::string& level) {
  SetEnvironmentVariableW(L"KESTREL_LOG", ConvertUtf8ToWide(level.c_str()).c_str());
}

std::optional<MmdrApi> LoadApi(const std::optional<std::string>& dllPath) {
  // A path from the command line holds no zero character, so the conversion sees all of it.
  const std::wstring requested = dllPath ? ConvertUtf8ToWide(dllPath->c_str()) : DllBesideExe();
  const std::wstring path = dllPath ? FullPath(requested) : requested;
  // The full path keeps the search away from the current directory; the altered
  // search path lets the DLL's own dependencies come from its directory.
  HMODULE module =
      path.empty() ? nullptr : LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  if (module == nullptr) {
    const DWORD error = GetLastError();
    Error("cannot load %s (Win32 error %lu)", ConvertWideToUtf8(requested.c_str()).c_str(), error);
    return std::nullopt;
  }
  return ResolveApi("kestrelCliLib.dll", [module](const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(module, name));
  });
}

}  // namespace mmdrctl
