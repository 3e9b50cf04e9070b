// Test webcams registered in DirectShow's video input category, so that the real
// system device enumerator lists them.
//
// A WebcamFixture owns a batch of device keys under
// HKCR\CLSID\{860BB310-5D01-11D0-BD3B-00A0C911CE86}\Instance. Each key holds any subset
// of the REG_SZ values "FriendlyName", "DevicePath" and "CLSID"; a value left out gives a
// device without that property. The keys of one batch share a fresh GUID prefix and end
// in a sequence number, so the enumerator (which walks the keys in name order) lists
// them contiguously and in the order they were added, whatever other batches exist.
// Destroying the fixture deletes every key it created. Not copyable.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace kestrel_test {

struct WebcamSpec {
  std::optional<std::wstring> friendlyName;
  std::optional<std::wstring> devicePath;
  std::optional<std::wstring> clsid;

  // A device with all three values; the filter CLSID is a fixed, harmless one.
  static WebcamSpec Complete(std::wstring name, std::wstring path);
};

class WebcamFixture {
 public:
  WebcamFixture();
  ~WebcamFixture();
  WebcamFixture(const WebcamFixture&) = delete;
  WebcamFixture& operator=(const WebcamFixture&) = delete;

  // Registers one device after those added before; returns its instance key name
  // ("{...}"), or the empty text when the registry refused (the test should fail then).
  std::wstring Add(const WebcamSpec& setup);
  // Removes every device of this batch now (the destructor does it otherwise).
  void RemoveAll();

  // A text unique to this batch, for building names and paths that tests can pick out
  // of an enumeration that may also hold other batches' devices.
  const std::wstring& token() const { return token_; }

 private:
  std::wstring keyPrefix_;  // "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXX" of the batch
  std::wstring token_;
  unsigned next_ = 0;
  std::vector<std::wstring> keys_;
};

// The instance key path of the video input category, below HKEY_CLASSES_ROOT.
extern const wchar_t kVideoInputInstancePath[];

}  // namespace kestrel_test
