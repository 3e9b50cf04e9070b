// Webcams registered in DirectShow's video input category for one scope, so that the real
// system device enumerator lists them in the order given: keys under
// HKCR\CLSID\{860BB310-5D01-11D0-BD3B-00A0C911CE86}\Instance holding the values given.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace kestrel_test {

struct Webcam {
  std::optional<std::string> name;  // "FriendlyName" (REG_SZ; an embedded NUL is kept)
  std::optional<std::string> path;  // "DevicePath"
  bool nameAsNumber = false;        // "FriendlyName" as REG_DWORD instead
};

class WebcamFixture {
 public:
  explicit WebcamFixture(const std::vector<Webcam>& webcams) {
    RemoveAll();  // what a crashed run may have left
    for (std::size_t i = 0; i < webcams.size(); ++i) {
      const std::wstring key = KeyPath(i);
      const DWORD number = 42;
      const Webcam& webcam = webcams[i];
      if (webcam.nameAsNumber) Set(key, L"FriendlyName", REG_DWORD, &number, sizeof number);
      if (webcam.name && !webcam.nameAsNumber) Set(key, L"FriendlyName", *webcam.name);
      if (webcam.path) Set(key, L"DevicePath", *webcam.path);
      Set(key, L"CLSID", "{E436EBB6-524F-11CE-9F53-0020AF0BA770}");
    }
  }
  ~WebcamFixture() { RemoveAll(); }
  WebcamFixture(const WebcamFixture&) = delete;
  WebcamFixture& operator=(const WebcamFixture&) = delete;

  // The id the library gives the webcam of this path: the path itself.
  static std::string Id(const std::string& path) { return path; }

 private:
  // Keys sort in the order of their number, which is the order the enumerator walks.
  static std::wstring KeyPath(std::size_t number) {
    wchar_t path[128];
    swprintf(path, 128,
             L"CLSID\\{860BB310-5D01-11D0-BD3B-00A0C911CE86}\\Instance\\"
             L"{4B657374-7265-6C00-0000-0000000000%02u}",
             static_cast<unsigned>(number));
    return path;
  }
  static void Set(const std::wstring& key, const wchar_t* name, DWORD type, const void* data,
                  std::size_t size) {
    RegSetKeyValueW(HKEY_CLASSES_ROOT, key.c_str(), name, type, data, static_cast<DWORD>(size));
  }
  static void Set(const std::wstring& key, const wchar_t* name, const std::string& utf8) {
    std::wstring text(utf8.size(), L'\0');
    text.resize(MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()),
                                    text.data(), static_cast<int>(text.size())));
    Set(key, name, REG_SZ, text.c_str(), (text.size() + 1) * sizeof(wchar_t));
  }
  static void RemoveAll() {
    for (std::size_t i = 0; i < 100; ++i) RegDeleteTreeW(HKEY_CLASSES_ROOT, KeyPath(i).c_str());
  }
};

}  // namespace kestrel_test
