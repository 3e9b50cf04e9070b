// The platform work behind the library's enumerations, done directly with the same COM
// calls and the same apartment handling, for comparison: the benchmark times it against
// the exported calls.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace kestrel_direct {

struct DirectDevice {
  std::wstring id;
  std::wstring name;
};
using DirectList = std::vector<DirectDevice>;

// DirectShow's video input category, in a single-threaded apartment entered for the
// enumeration when the thread was outside COM.
void DirectVideoEnum(DirectList& out);
// The active capture endpoints, in a single-threaded apartment entered for the
// enumeration (nothing when the thread is in the multithreaded apartment).
void DirectEndpointEnum(DirectList& out);

struct DirectSoundPropertySet;
using CaptureEnumerateFn = HRESULT(WINAPI*)(BOOL(CALLBACK*)(GUID*, LPCWSTR, LPCWSTR, void*), void*);

// dsound.dll and its private property object, held from Open to destruction like the
// library's shared instance; each Enumerate then does what one of the library's
// DirectSound enumerations does below its own bookkeeping.
class DirectSoundSession {
 public:
  DirectSoundSession() = default;
  ~DirectSoundSession();
  DirectSoundSession(const DirectSoundSession&) = delete;
  DirectSoundSession& operator=(const DirectSoundSession&) = delete;

  bool Open();
  void Enumerate(DirectList& out);

 private:
  static BOOL CALLBACK OnDevice(GUID* guid, LPCWSTR, LPCWSTR, void* context);

  HMODULE module_ = nullptr;
  CaptureEnumerateFn enumerate_ = nullptr;
  DirectSoundPropertySet* props_ = nullptr;  // owned
  std::vector<unsigned char> scratch_;
  DirectList* target_ = nullptr;
};

}  // namespace kestrel_direct
