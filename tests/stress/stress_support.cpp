#include "stress/stress_support.h"

#include <psapi.h>
#include <tlhelp32.h>
#include <winternl.h>

#include <cstring>
#include <cwctype>
#include <set>

#include "log/log_base.h"
#include "log/log_record.h"
#include "log/log_ring.h"
#include "log/log_state.h"

namespace kestrel_stress {
namespace {

// SystemHandleInformation (class 16): one fixed entry per open handle of the system.
struct SystemHandleEntry {
  USHORT processId;
  USHORT creatorBackTraceIndex;
  UCHAR objectType;
  UCHAR flags;
  USHORT handle;
  PVOID object;
  ACCESS_MASK access;
};
struct SystemHandleTable {
  ULONG count;
  SystemHandleEntry entries[1];
};
constexpr ULONG kSystemHandleInformation = 16;
constexpr NTSTATUS kStatusInfoLengthMismatch = static_cast<NTSTATUS>(0xC0000004);
constexpr NTSTATUS kStatusKeyDeleted = static_cast<NTSTATUS>(0xC000017C);
constexpr int kObjectTypeInformation = 2;
constexpr wchar_t kVideoInstanceKeyPart[] =
    L"\\CLSID\\{860BB310-5D01-11D0-BD3B-00A0C911CE86}\\INSTANCE\\";

// Whether a handle is one of the video input device keys that the platform's device
// enumerator leaves open. Only key handles are asked for their name.
bool IsVideoDeviceInstanceKey(HANDLE handle) {
  alignas(8) unsigned char buffer[2048];
  ULONG length = 0;
  if (NtQueryObject(handle, static_cast<OBJECT_INFORMATION_CLASS>(kObjectTypeInformation), buffer,
                    sizeof buffer, &length) != 0) {
    return false;
  }
  const auto* type = reinterpret_cast<const UNICODE_STRING*>(buffer);
  if (std::wstring(type->Buffer, type->Length / sizeof(wchar_t)) != L"Key") return false;
  const NTSTATUS nameStatus = NtQueryObject(handle, ObjectNameInformation, buffer,
                                            sizeof buffer - sizeof(wchar_t), &length);
  // The fixtures of earlier tests delete their device keys; a leaked handle then refers
  // to a deleted key, whose name the system no longer tells.
  if (nameStatus == kStatusKeyDeleted) return true;
  if (nameStatus != 0) return false;
  const auto* name = reinterpret_cast<const UNICODE_STRING*>(buffer);
  std::wstring text(name->Buffer != nullptr ? name->Buffer : L"", name->Length / sizeof(wchar_t));
  for (wchar_t& c : text) c = towupper(c);
  return text.find(kVideoInstanceKeyPart) != std::wstring::npos;
}

std::string ObjectText(HANDLE handle, int informationClass) {
  alignas(8) unsigned char buffer[2048];
  ULONG length = 0;
  if (NtQueryObject(handle, static_cast<OBJECT_INFORMATION_CLASS>(informationClass), buffer,
                    sizeof buffer - sizeof(wchar_t), &length) != 0) {
    return "?";
  }
  const auto* text = reinterpret_cast<const UNICODE_STRING*>(buffer);
  std::string narrow;
  for (USHORT i = 0; text->Buffer != nullptr && i < text->Length / sizeof(wchar_t); ++i) {
    narrow += text->Buffer[i] < 0x80 ? static_cast<char>(text->Buffer[i]) : '?';
  }
  return narrow;
}

// The handles of this process from the system handle table.
std::vector<HANDLE> ProcessHandles() {
  using QueryFn = NTSTATUS(NTAPI*)(ULONG, PVOID, ULONG, PULONG);
  const auto query = reinterpret_cast<QueryFn>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
  if (query == nullptr) return {};
  std::vector<unsigned char> buffer(1 << 20);
  ULONG returned = 0;
  NTSTATUS status;
  while ((status = query(kSystemHandleInformation, buffer.data(),
                         static_cast<ULONG>(buffer.size()), &returned)) ==
         kStatusInfoLengthMismatch) {
    buffer.resize(buffer.size() * 2);
  }
  if (status != 0) return {};
  const auto* table = reinterpret_cast<const SystemHandleTable*>(buffer.data());
  // The table's process ids are 16 bits wide.
  const auto self = static_cast<USHORT>(GetCurrentProcessId());
  std::vector<HANDLE> handles;
  for (ULONG i = 0; i < table->count; ++i) {
    const SystemHandleEntry& entry = table->entries[i];
    if (entry.processId != self) continue;
    const HANDLE handle = reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(entry.handle));
    if (!IsVideoDeviceInstanceKey(handle)) handles.push_back(handle);
  }
  return handles;
}

bool IsDigits(const char* text, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
  }
  return true;
}

// "YYYY-MM-DDThh:mm:ss" then NUL, ".mmm" then NUL, "Z" then NUL.
bool IsTimestamp(const LogRecordHeader& header) {
  const char* t = header.dateTime;
  return IsDigits(t, 4) && t[4] == '-' && IsDigits(t + 5, 2) && t[7] == '-' &&
         IsDigits(t + 8, 2) && t[10] == 'T' && IsDigits(t + 11, 2) && t[13] == ':' &&
         IsDigits(t + 14, 2) && t[16] == ':' && IsDigits(t + 17, 2) && t[19] == '\0' &&
         header.milliseconds[0] == '.' && IsDigits(header.milliseconds + 1, 3) &&
         header.milliseconds[4] == '\0' && header.zone[0] == 'Z' && header.zone[1] == '\0';
}

bool IsKnownModule(const LogState& state, const LogThresholds* module) {
  if (module == &state.defaultThresholds) return true;
  for (const LogModuleInfo& row : kLogModuleInfo) {
    if (module == &row.thresholds) return true;
  }
  return false;
}

// The loader's entry of a module, in the classic layout that Windows and Wine share.
struct LoaderEntry {
  LIST_ENTRY inLoadOrderLinks;
  LIST_ENTRY inMemoryOrderLinks;
  LIST_ENTRY inInitializationOrderLinks;
  void* dllBase;
  void* entryPoint;
  ULONG sizeOfImage;
  UNICODE_STRING fullDllName;
  UNICODE_STRING baseDllName;
  ULONG flags;
  SHORT loadCount;
  SHORT tlsIndex;
};

}  // namespace

int ModuleLoadCount(const wchar_t* moduleName) {
  const HMODULE module = GetModuleHandleW(moduleName);
  if (module == nullptr) return -1;
  const PEB* peb = NtCurrentTeb()->ProcessEnvironmentBlock;
  const LIST_ENTRY* head = &peb->Ldr->InMemoryOrderModuleList;
  for (const LIST_ENTRY* link = head->Flink; link != head; link = link->Flink) {
    const auto* entry = CONTAINING_RECORD(link, LoaderEntry, inMemoryOrderLinks);
    if (entry->dllBase == module) return entry->loadCount;
  }
  return -1;
}

unsigned CountProcessHandles() { return static_cast<unsigned>(ProcessHandles().size()); }

std::vector<std::string> DescribeProcessHandles() {
  std::vector<std::string> descriptions;
  for (HANDLE handle : ProcessHandles()) {
    descriptions.push_back(ObjectText(handle, kObjectTypeInformation) + " " +
                           ObjectText(handle, ObjectNameInformation));
  }
  return descriptions;
}

unsigned CountProcessThreads() {
  const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return 0;
  THREADENTRY32 entry{};
  entry.dwSize = sizeof entry;
  unsigned count = 0;
  const DWORD self = GetCurrentProcessId();
  for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
    if (entry.th32OwnerProcessID == self) ++count;
    entry.dwSize = sizeof entry;
  }
  CloseHandle(snapshot);
  return count;
}

std::uint64_t PrivateBytes() {
  PROCESS_MEMORY_COUNTERS_EX counters{};
  counters.cb = sizeof counters;
  if (!GetProcessMemoryInfo(GetCurrentProcess(),
                            reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                            sizeof counters)) {
    return 0;
  }
  return counters.PrivateUsage != 0 ? counters.PrivateUsage : counters.PagefileUsage;
}

std::uint64_t HeapBusyBytes() {
  HANDLE heaps[128];
  const DWORD heapCount = GetProcessHeaps(128, heaps);
  std::uint64_t busy = 0;
  for (DWORD i = 0; i < heapCount && i < 128; ++i) {
    if (!HeapLock(heaps[i])) continue;
    PROCESS_HEAP_ENTRY entry{};
    while (HeapWalk(heaps[i], &entry)) {
      if ((entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) != 0) busy += entry.cbData;
    }
    HeapUnlock(heaps[i]);
  }
  return busy;
}

std::string NewHandles(const std::vector<std::string>& before) {
  std::multiset<std::string> remaining(before.begin(), before.end());
  std::string text;
  for (const std::string& description : DescribeProcessHandles()) {
    const auto found = remaining.find(description);
    if (found != remaining.end()) {
      remaining.erase(found);
    } else {
      text += "new handle: " + description + "\n";
    }
  }
  return text;
}

std::string FieldText(const char* field) {
  return std::string(field, strnlen(field, MMDR_TEXT_FIELD_SIZE - 1));
}

std::vector<DeviceEntry> ListDevices(MmdrHandle* handle, MmdrDeviceKind kind, bool* failure) {
  *failure = false;
  // Devices do not come and go during these tests, but allow one retry all the same.
  for (int attempt = 0; attempt < 2; ++attempt) {
    uint32_t count = 0;
    MmdrResult result = Mmdr_EnumDevices(handle, kind, 0, nullptr, &count);
    if (result == MMDR_OK && count == 0) return {};
    if (result != MMDR_BUFFER_TOO_SMALL) break;
    std::vector<MmdrDeviceEntry> entries(count);
    uint32_t second = 0;
    result = Mmdr_EnumDevices(handle, kind, count * MMDR_ENTRY_SIZE, entries.data(), &second);
    if (result == MMDR_BUFFER_TOO_SMALL) continue;
    if (result != MMDR_OK || second != count) break;
    std::vector<DeviceEntry> devices;
    for (const MmdrDeviceEntry& entry : entries) {
      devices.push_back({FieldText(entry.id), FieldText(entry.name)});
    }
    return devices;
  }
  *failure = true;
  return {};
}

RingWalk WalkLibraryLogRing() {
  RingWalk walk;
  LogState& state = LogLibraryState();
  // Copy the live entries out under the facility's lock, then judge them at leisure.
  std::vector<std::uint8_t> bytes;
  RecLock* lock = LogState_ObtainLock(&state);
  if (lock == nullptr) {
    walk.problem = "the log lock could not be obtained";
    return walk;
  }
  RecLock_Acquire(lock);
  const LogRing& ring = *state.ring;
  const bool ringSane = ring.capacity > 0 && ring.used < ring.capacity &&
                        ring.read >= ring.start && ring.read < ring.start + ring.capacity &&
                        ring.write >= ring.start && ring.write < ring.start + ring.capacity &&
                        static_cast<std::uint64_t>(
                            (ring.write - ring.read + ring.capacity) % ring.capacity) ==
                            ring.used;
  if (ringSane) {
    const std::uint64_t readOffset = static_cast<std::uint64_t>(ring.read - ring.start);
    bytes.resize(ring.used);
    for (std::uint64_t i = 0; i < ring.used; ++i) {
      bytes[i] = ring.start[(readOffset + i) % ring.capacity];
    }
  }
  RecLock_Release(lock);
  if (!ringSane) {
    walk.problem = "ring positions and used count disagree";
    return walk;
  }
  walk.usedBytes = bytes.size();

  std::string previousTime;
  std::size_t position = 0;
  while (position < bytes.size()) {
    const std::string where = "record " + std::to_string(walk.records) + " at byte " +
                              std::to_string(position) + ": ";
    if (bytes.size() - position < kLogRingLengthFieldSize + sizeof(LogRecordHeader)) {
      walk.problem = where + "fewer bytes left than a length and a header";
      return walk;
    }
    const std::size_t length = bytes[position] | (bytes[position + 1] << 8);
    if (length <= sizeof(LogRecordHeader) ||
        length > bytes.size() - position - kLogRingLengthFieldSize) {
      walk.problem = where + "length " + std::to_string(length) + " does not fit";
      return walk;
    }
    LogRecordHeader header;
    std::memcpy(&header, &bytes[position + kLogRingLengthFieldSize], sizeof header);
    const char* text = reinterpret_cast<const char*>(&bytes[position + kLogRingLengthFieldSize +
                                                            sizeof header]);
    const std::size_t textLength = length - sizeof header;
    const bool levelKnown = header.level >= &kLogLevelInfo[0] &&
                            header.level < &kLogLevelInfo[kLogLevelRowCount];
    const std::size_t nameLength = strnlen(header.threadName, sizeof header.threadName);
    if (!levelKnown || !IsKnownModule(state, header.module)) {
      walk.problem = where + "level or module reference is not one of the facility's";
      return walk;
    }
    if (header.continuation != 0 || nameLength == 0 || nameLength == sizeof header.threadName) {
      walk.problem = where + "continuation flag or thread name malformed";
      return walk;
    }
    if (!IsTimestamp(header)) {
      walk.problem = where + "timestamp malformed";
      return walk;
    }
    const std::string time = std::string(header.dateTime) + header.milliseconds;
    if (time < previousTime) {
      walk.problem = where + "timestamp " + time + " earlier than the previous " + previousTime;
      return walk;
    }
    previousTime = time;
    if (text[textLength - 1] != '\n' || std::memchr(text, '\0', textLength) != nullptr) {
      walk.problem = where + "text does not end in its newline or holds a NUL: " +
                     std::string(text, strnlen(text, textLength));
      return walk;
    }
    ++walk.records;
    position += kLogRingLengthFieldSize + length;
  }
  walk.consistent = true;
  return walk;
}

std::string WasapiSwitchTestName(const ::testing::TestParamInfo<WasapiSwitch>& info) {
  return info.param == WasapiSwitch::kAbsent ? "EnableAInWasapiAbsent" : "EnableAInWasapiZero";
}

ScopedLibraryValues::ScopedLibraryValues(WasapiSwitch wasapiSwitch) {
  disabled_.Remove();
  if (wasapiSwitch == WasapiSwitch::kOff) {
    wasapi_.SetDword(0);
  } else {
    wasapi_.Remove();
  }
}

bool AddThreeWebcams(kestrel_test::WebcamFixture& webcams, const std::wstring& label) {
  for (int i = 0; i < 3; ++i) {
    const std::wstring n = std::to_wstring(i);
    const std::wstring added = webcams.Add(kestrel_test::WebcamSpec::Complete(
        label + L" Cam " + n + L" " + webcams.token(),
        L"\\\\?\\" + label + L"#cam" + n + L"#" + webcams.token()));
    if (added.empty()) return false;
  }
  return true;
}

}  // namespace kestrel_stress
