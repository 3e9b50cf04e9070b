#include "support/webcam_fixture.h"

#include <windows.h>
#include <objbase.h>

#include <cstdio>

namespace kestrel_test {

const wchar_t kVideoInputInstancePath[] =
    L"CLSID\\{860BB310-5D01-11D0-BD3B-00A0C911CE86}\\Instance";

namespace {

// The capture filter CLSID written into complete fixture devices; nothing binds to it.
constexpr wchar_t kFixtureFilterClsid[] = L"{E436EBB6-524F-11CE-9F53-0020AF0BA770}";

bool SetString(HKEY key, const wchar_t* name, const std::wstring& value) {
  const DWORD bytes = static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t));
  return RegSetValueExW(key, name, 0, REG_SZ,
                        reinterpret_cast<const BYTE*>(value.c_str()), bytes) == ERROR_SUCCESS;
}

}  // namespace

WebcamSpec WebcamSpec::Complete(std::wstring name, std::wstring path) {
  WebcamSpec setup;
  setup.friendlyName = std::move(name);
  setup.devicePath = std::move(path);
  setup.clsid = kFixtureFilterClsid;
  return setup;
}

WebcamFixture::WebcamFixture() {
  GUID guid{};
  CoCreateGuid(&guid);
  wchar_t text[64] = {};
  // The last four hex digits are left for the sequence number.
  swprintf(text, 64, L"{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X",
           static_cast<unsigned long>(guid.Data1), guid.Data2, guid.Data3, guid.Data4[0],
           guid.Data4[1], guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5]);
  keyPrefix_ = text;
  swprintf(text, 64, L"kt%08lX", static_cast<unsigned long>(guid.Data1));
  token_ = text;
}

WebcamFixture::~WebcamFixture() { RemoveAll(); }

std::wstring WebcamFixture::Add(const WebcamSpec& setup) {
  wchar_t suffix[16] = {};
  swprintf(suffix, 16, L"%04X}", next_++);
  const std::wstring keyName = keyPrefix_ + suffix;
  const std::wstring path = std::wstring(kVideoInputInstancePath) + L"\\" + keyName;

  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                      &key, nullptr) != ERROR_SUCCESS) {
    return std::wstring();
  }
  keys_.push_back(path);
  bool ok = true;
  if (setup.friendlyName) ok = SetString(key, L"FriendlyName", *setup.friendlyName) && ok;
  if (setup.devicePath) ok = SetString(key, L"DevicePath", *setup.devicePath) && ok;
  if (setup.clsid) ok = SetString(key, L"CLSID", *setup.clsid) && ok;
  RegCloseKey(key);
  return ok ? keyName : std::wstring();
}

void WebcamFixture::RemoveAll() {
  for (const std::wstring& path : keys_) {
    RegDeleteTreeW(HKEY_CLASSES_ROOT, path.c_str());
    RegDeleteKeyW(HKEY_CLASSES_ROOT, path.c_str());
  }
  keys_.clear();
}

}  // namespace kestrel_test
