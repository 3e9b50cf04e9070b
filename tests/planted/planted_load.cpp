// Runs beside a planted dsound.dll, with Wine's load order allowing a DLL from the
// program's folder (dsound=n,b). "default-dirs": shows the plant works, by loading the
// stand-in through the default search. "library": DirectSound as the library loads it
// must be the system's copy, and the stand-in must stay unloaded. Exit 0 when so.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "devices/dsound_lib.h"

int wmain(int argc, wchar_t** argv) {
  std::wstring standIn(MAX_PATH, L'\0');
  standIn.resize(GetModuleFileNameW(nullptr, &standIn[0], MAX_PATH));
  standIn = standIn.substr(0, standIn.rfind(L'\\')) + L"\\dsound.dll";
  std::wstring system(MAX_PATH, L'\0');
  system.resize(GetSystemDirectoryW(&system[0], MAX_PATH));
  system += L"\\dsound.dll";

  const bool defaultDirs = argc == 2 && std::wcscmp(argv[1], L"default-dirs") == 0;
  if (argc != 2 || (!defaultDirs && std::wcscmp(argv[1], L"library") != 0)) return 2;
  HMODULE loaded = defaultDirs
                       ? LoadLibraryExW(L"dsound.dll", nullptr, LOAD_LIBRARY_SEARCH_DEFAULT_DIRS)
                   : DSoundLib::InitInstance() ? DSoundLib::GetInstanceForTesting()->module.get()
                                               : nullptr;
  const std::wstring& expected = defaultDirs ? standIn : system;
  std::wstring path(MAX_PATH, L'\0');
  path.resize(GetModuleFileNameW(loaded, &path[0], MAX_PATH));
  std::printf("loaded %ls, expected %ls\n", path.c_str(), expected.c_str());
  const bool standInLoaded = GetModuleHandleW(standIn.c_str()) != nullptr;
  return loaded != nullptr && _wcsicmp(path.c_str(), expected.c_str()) == 0 &&
                 standInLoaded == (expected == standIn)
             ? 0
             : 1;
}
