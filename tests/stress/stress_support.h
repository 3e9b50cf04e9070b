// Helpers of the stress, bad-input and leak programs: what the process holds (handles,
// threads, memory), a structural walk of the library's log ring, and the device lists
// as a caller sees them through the exported calls.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "kestrelCliLib.h"
#include "support/registry_scratch.h"
#include "support/webcam_fixture.h"

namespace kestrel_stress {

// Open kernel handles of this process, less the registry keys of DirectShow's video
// input devices: the system device enumerator of Wine 8 leaks a few of those on every
// enumeration (a direct enumeration with the same COM calls leaks the same), and the
// library never opens such a key itself. Read from the system handle table, since
// Wine's GetProcessHandleCount reports 0.
unsigned CountProcessHandles();
// "type name" of each handle that CountProcessHandles counts, to tell what was left.
std::vector<std::string> DescribeProcessHandles();
// The descriptions present now beyond those in `before`, one per line.
std::string NewHandles(const std::vector<std::string>& before);
// Threads of this process, from a Toolhelp snapshot.
unsigned CountProcessThreads();
// Private bytes: PrivateUsage, or PagefileUsage where the system leaves PrivateUsage 0
// (the same figure on Windows; Wine fills only the latter).
std::uint64_t PrivateBytes();
// Bytes in busy blocks of every heap of the process: the most sensitive leak figure.
std::uint64_t HeapBusyBytes();

// The loader's reference count of a loaded module, -1 when it is not loaded. Wine's
// system device enumerator keeps dsound.dll loaded for its own use, so whether the
// library dropped its own reference shows in this count, not in the module's presence.
int ModuleLoadCount(const wchar_t* moduleName);

// One entry of Mmdr_EnumDevices, texts up to their first NUL.
struct DeviceEntry {
  std::string id;
  std::string name;
  bool operator==(const DeviceEntry& other) const {
    return id == other.id && name == other.name;
  }
};

// The devices of one kind through the two-call pattern. Empty, with failure set, when
// a call returns something unexpected.
std::vector<DeviceEntry> ListDevices(MmdrHandle* handle, MmdrDeviceKind kind, bool* failure);

// The text of a 260-byte output field up to its first NUL (at most 259 bytes).
std::string FieldText(const char* field);

// Result of walking the library's log ring entry by entry without taking anything out.
struct RingWalk {
  bool consistent = false;    // every entry well formed and the lengths add up to `used`
  std::size_t records = 0;
  std::uint64_t usedBytes = 0;
  std::string problem;        // the first thing found wrong
};
// Walks the ring under the log lock from the oldest entry to the newest: each length
// covers a header and a text; the header names a level row and a module of the
// facility, a NUL-terminated thread name and a well-formed UTC timestamp no earlier
// than the previous record's; the text ends in its newline and holds no NUL; the
// entries add up exactly to the ring's used byte count.
RingWalk WalkLibraryLogRing();

// The two states of the audio back-end switch the stress programs run in.
enum class WasapiSwitch { kAbsent, kOff };
std::string WasapiSwitchTestName(const ::testing::TestParamInfo<WasapiSwitch>& info);

// The library's registry values for one test: "EnableAInWasapi" as asked, "IsDisabled"
// absent, the user's preferences and option free to change; all put back afterwards.
class ScopedLibraryValues {
 public:
  explicit ScopedLibraryValues(WasapiSwitch wasapiSwitch);

 private:
  kestrel_test::ScopedRegistryValue wasapi_{HKEY_LOCAL_MACHINE, L"EnableAInWasapi"};
  kestrel_test::ScopedRegistryValue disabled_{HKEY_LOCAL_MACHINE, L"IsDisabled"};
  kestrel_test::ScopedRegistryValue camId_{HKEY_CURRENT_USER, L"srcWCamId"};
  kestrel_test::ScopedRegistryValue camName_{HKEY_CURRENT_USER, L"srcWCamName"};
  kestrel_test::ScopedRegistryValue micId_{HKEY_CURRENT_USER, L"srcAudioInId"};
  kestrel_test::ScopedRegistryValue micName_{HKEY_CURRENT_USER, L"srcAudioInName"};
  kestrel_test::ScopedRegistryValue option_{HKEY_CURRENT_USER, L"srcAudioInOption"};
};

// Registers three complete webcams named "<label> Cam N <token>"; false if one failed.
bool AddThreeWebcams(kestrel_test::WebcamFixture& webcams, const std::wstring& label);

}  // namespace kestrel_stress
