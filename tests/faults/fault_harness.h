// What every fault row checks, whichever enumerator it breaks: the records, the exact
// log lines, the apartment of the calling thread before and after, and the fake class
// put where the enumeration's CoCreateInstance finds it on a thread in any state.
#pragma once

#include <windows.h>
#include <objbase.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "devices/device_info.h"
#include "devices/device_test_util.h"
#include "faults/co_create_redirect.h"
#include "support/fake_com.h"
#include "support/log_capture.h"
#include "support/registry_scratch.h"

namespace kestrel_test {

// One record a row expects, in list order.
struct ExpectedRecord {
  std::wstring name;
  std::uint32_t index;
  std::wstring path;  // also the expected id
};

// The records in order: name, index and number, path and id.
void ExpectRecords(const DeviceInfoList& list, const std::vector<ExpectedRecord>& expected);

// Every record the log took (at the default thresholds only errors get through) is the
// expected line at the same position. A '*' in an expected line stands for any text
// (the system's message text of a last-error code).
void ExpectLogLines(const std::vector<CapturedLogRecord>& records,
                    const std::vector<std::string>& expected);

// The thread's apartment as it was: the same result, type and qualifier.
void ExpectSameApartment(const ApartmentState& before, const ApartmentState& after);

// The fake class object where CoCreateInstance on this thread finds it: registered in
// the thread's apartment when it has one, or through the test program's redirected
// CoCreateInstance when the thread is outside COM (the enumeration then enters an
// apartment of its own, where no registration of ours could be seen).
class ScopedFakeClass {
 public:
  ScopedFakeClass(const CLSID& clsid, IClassFactory* factory);
  ~ScopedFakeClass();
  ScopedFakeClass(const ScopedFakeClass&) = delete;
  ScopedFakeClass& operator=(const ScopedFakeClass&) = delete;

  bool ready() const;
  bool redirected() const { return redirect_ != nullptr; }
  // Redirected only: whether the enumeration created the object from inside a
  // single-threaded apartment of its own.
  bool CreatedInSta() const;

 private:
  std::unique_ptr<ScopedClassRegistration> registration_;
  std::unique_ptr<ScopedCoCreateRedirect> redirect_;
};

// For one scope, the user's preferred device of a kind is the given name alone: no id
// stored, no machine-wide id or name (idValue/nameValue: "srcWCamId"/"srcWCamName" or
// "srcAudioInId"/"srcAudioInName"). Everything is put back afterwards.
class ScopedPreferredName {
 public:
  ScopedPreferredName(const wchar_t* idValue, const wchar_t* nameValue, const std::wstring& name);

 private:
  ScopedRegistryValue storedId_;
  ScopedRegistryValue storedName_;
  ScopedRegistryValue machineId_;
  ScopedRegistryValue machineName_;
};

}  // namespace kestrel_test
