// platform_bench: what each exported call costs next to the same platform work done
// directly in this process (the same COM calls, the same apartment handling), and how
// enumeration and the preferred-device lookup scale with the number of webcams.
//
// Library and direct runs alternate, so drift of the machine (caches, Wine's server)
// hits both sides alike; every figure is a median. The program prints and asserts
// nothing about speed; it exits non-zero only when the two sides disagree about the
// devices, since the figures would then compare different work.
//
// Usage: platform_bench [repetitions]   (default 21)
// Columns: median library time, median direct time, their ratio (the figure the 1.10
// target applies to), and the median of the per-pair ratios as a check on drift.
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "comparison.h"
#include "core/utf8.h"
#include "direct_platform.h"
#include "kestrelCliLib.h"

namespace {

using kestrel_direct::DirectDevice;
using kestrel_direct::DirectEndpointEnum;
using kestrel_direct::DirectList;
using kestrel_direct::DirectSoundSession;
using kestrel_direct::DirectVideoEnum;

constexpr wchar_t kKeyPath[] = L"Software\\Corvane\\Meridel\\Kestrel";
constexpr wchar_t kVideoInstancePath[] = L"CLSID\\{860BB310-5D01-11D0-BD3B-00A0C911CE86}\\Instance";
// Instance keys of the benchmark's webcams share this start, so a run that was
// interrupted is cleaned up by the next one.
constexpr wchar_t kBenchKeyStart[] = L"{B3C7C0DE-5EB0-4000-8000-";

// One text of the current user's key, read the way the library reads it.
std::wstring ReadUserString(const wchar_t* valueName) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, kKeyPath, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, &key) !=
      ERROR_SUCCESS) {
    return {};
  }
  wchar_t buffer[260] = {};
  DWORD bytes = sizeof buffer;
  std::wstring text;
  if (RegQueryValueExW(key, valueName, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &bytes) ==
      ERROR_SUCCESS) {
    text.assign(buffer, wcsnlen(buffer, bytes / sizeof(wchar_t)));
  }
  RegCloseKey(key);
  return text;
}

// Two registry reads, the enumeration, then the first device whose id equals the
// stored one.
template <typename Enumerate>
std::wstring DirectLookupId(const wchar_t* idValue, const wchar_t* nameValue, Enumerate&& enumerate,
                            DirectList& scratch) {
  const std::wstring id = ReadUserString(idValue);
  const std::wstring name = ReadUserString(nameValue);
  enumerate(scratch);
  for (const DirectDevice& device : scratch) {
    if (!id.empty() && device.id == id) return device.id;
  }
  for (const DirectDevice& device : scratch) {
    if (!name.empty() && device.name == name) return device.id;
  }
  return {};
}

// The switch that picks the microphones' back end, which the library reads at every
// microphone call as RegUtils::GetBOOL does: the direct side does the same work.
void ReadBackEndSwitch() {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kKeyPath, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, &key) !=
      ERROR_SUCCESS) {
    return;
  }
  DWORD value = 0;
  DWORD bytes = sizeof value;
  RegQueryValueExW(key, L"EnableAInWasapi", nullptr, nullptr, reinterpret_cast<BYTE*>(&value),
                   &bytes);
  RegCloseKey(key);
}

void DirectMicrophones(DirectList& out) {
  ReadBackEndSwitch();
  DirectEndpointEnum(out);
}

// ---- Environment ---------------------------------------------------------------

bool SetUserString(const wchar_t* valueName, const std::wstring& text) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, kKeyPath, 0, nullptr, REG_OPTION_NON_VOLATILE,
                      KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr, &key, nullptr) != ERROR_SUCCESS) {
    return false;
  }
  const LONG status =
      RegSetValueExW(key, valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                     static_cast<DWORD>(text.size() + 1) * static_cast<DWORD>(sizeof(wchar_t)));
  RegCloseKey(key);
  return status == ERROR_SUCCESS;
}

// A value of the key path under one root, put back as it was when the scope ends.
class SavedValue {
 public:
  SavedValue(HKEY root, const wchar_t* valueName) : root_(root), name_(valueName) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root_, kKeyPath, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, &key) ==
        ERROR_SUCCESS) {
      DWORD type = 0;
      DWORD bytes = 0;
      if (RegQueryValueExW(key, name_, nullptr, &type, nullptr, &bytes) == ERROR_SUCCESS) {
        std::vector<BYTE> data(bytes);
        if (RegQueryValueExW(key, name_, nullptr, &type, data.data(), &bytes) == ERROR_SUCCESS) {
          data.resize(bytes);
          saved_ = std::make_pair(type, std::move(data));
        }
      }
      RegCloseKey(key);
    }
  }
  ~SavedValue() {
    HKEY key = nullptr;
    if (RegCreateKeyExW(root_, kKeyPath, 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr, &key, nullptr) != ERROR_SUCCESS) {
      return;
    }
    if (saved_) {
      RegSetValueExW(key, name_, 0, saved_->first, saved_->second.data(),
                     static_cast<DWORD>(saved_->second.size()));
    } else {
      RegDeleteValueW(key, name_);
    }
    RegCloseKey(key);
  }
  SavedValue(const SavedValue&) = delete;
  SavedValue& operator=(const SavedValue&) = delete;

  bool SetDword(DWORD value) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(root_, kKeyPath, 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr, &key, nullptr) != ERROR_SUCCESS) {
      return false;
    }
    const LONG status =
        RegSetValueExW(key, name_, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), 4);
    RegCloseKey(key);
    return status == ERROR_SUCCESS;
  }
  void Remove() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root_, kKeyPath, 0, KEY_SET_VALUE | KEY_WOW64_64KEY, &key) == ERROR_SUCCESS) {
      RegDeleteValueW(key, name_);
      RegCloseKey(key);
    }
  }

 private:
  HKEY root_;
  const wchar_t* name_;
  std::optional<std::pair<DWORD, std::vector<BYTE>>> saved_;
};

// The benchmark's webcams in DirectShow's video input category; any left over by an
// interrupted run are removed first.
class BenchWebcams {
 public:
  BenchWebcams() { RemoveAll(); }
  ~BenchWebcams() { RemoveAll(); }
  void Clear() { RemoveAll(); }
  BenchWebcams(const BenchWebcams&) = delete;
  BenchWebcams& operator=(const BenchWebcams&) = delete;

  // Registers webcams until there are count of them.
  bool GrowTo(unsigned count) {
    for (; count_ < count; ++count_) {
      HKEY key = nullptr;
      if (RegCreateKeyExW(HKEY_CLASSES_ROOT, KeyPath(count_).c_str(), 0, nullptr,
                          REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr, &key,
                          nullptr) != ERROR_SUCCESS) {
        return false;
      }
      wchar_t name[64];
      wchar_t devicePath[160];
      static_cast<void>(swprintf(name, 64, L"Bench Camera %u", count_));
      static_cast<void>(swprintf(devicePath, 160,
                                 L"\\\\?\\usb#vid_5eb0&pid_%04x&mi_00#7&bench&0&%04u#"
                                 L"{65e8773d-8f56-11d0-a3b9-00a0c9223196}\\global",
                                 count_, count_));
      const bool ok = SetString(key, L"FriendlyName", name) &&
                      SetString(key, L"DevicePath", devicePath) &&
                      SetString(key, L"CLSID", L"{E436EBB6-524F-11CE-9F53-0020AF0BA770}");
      RegCloseKey(key);
      if (!ok) return false;
    }
    return true;
  }

  // Removes the newest webcams until there are count of them.
  bool ShrinkTo(unsigned count) {
    for (; count_ > count; --count_) {
      if (RegDeleteTreeW(HKEY_CLASSES_ROOT, KeyPath(count_ - 1).c_str()) != ERROR_SUCCESS) {
        return false;
      }
    }
    return true;
  }

 private:
  static std::wstring KeyPath(unsigned number) {
    wchar_t keyName[64];
    static_cast<void>(swprintf(keyName, 64, L"%ls%012X}", kBenchKeyStart, number));
    return std::wstring(kVideoInstancePath) + L"\\" + keyName;
  }
  static bool SetString(HKEY key, const wchar_t* valueName, const wchar_t* text) {
    return RegSetValueExW(key, valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                          static_cast<DWORD>(wcslen(text) + 1) *
                              static_cast<DWORD>(sizeof(wchar_t))) == ERROR_SUCCESS;
  }
  // Allocates nothing, so that the destructor cannot throw.
  void RemoveAll() {
    HKEY instances = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, kVideoInstancePath, 0,
                      KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE | DELETE,
                      &instances) != ERROR_SUCCESS) {
      return;
    }
    wchar_t keyName[256];
    for (DWORD i = 0;;) {
      DWORD length = 256;
      if (RegEnumKeyExW(instances, i, keyName, &length, nullptr, nullptr, nullptr, nullptr) !=
          ERROR_SUCCESS) {
        break;
      }
      // A deleted key moves the later ones down by one: the same index comes next.
      const bool ours = wcsncmp(keyName, kBenchKeyStart, wcslen(kBenchKeyStart)) == 0;
      if (!ours || RegDeleteTreeW(instances, keyName) != ERROR_SUCCESS) ++i;
    }
    RegCloseKey(instances);
    count_ = 0;
  }

  unsigned count_ = 0;
};

// ---- Measuring -------------------------------------------------------------------

using kestrel_bench::Compare;
using kestrel_bench::Comparison;
using kestrel_bench::LibraryEnumeration;
using kestrel_bench::PrintComparison;
using kestrel_bench::PrintComparisonHeader;
using kestrel_bench::PrintMarginalCosts;
using kestrel_bench::ScalingRow;

bool SameDevices(const LibraryEnumeration& library, const DirectList& direct, const char* what) {
  return kestrel_bench::SameDevices(library, direct, what, [](const std::wstring& text) {
    return ConvertWideToUtf8(text.c_str());
  });
}

// ---- Sections --------------------------------------------------------------------

// What every section shares: the repetition count, the benchmark's webcams, a scratch
// list for the direct side, and whether both sides have listed the same devices so far.
struct Bench {
  int repetitions = 0;
  BenchWebcams webcams;
  DirectList direct;
  bool consistent = true;
};

// One enumeration of a kind through the library against the direct one; label names
// the row, what the enumeration in a mismatch.
template <typename Enumerate>
void CompareEnumeration(Bench& bench, MmdrHandle* handle, MmdrDeviceKind kind, const char* label,
                        const char* what, Enumerate&& enumerate) {
  LibraryEnumeration library{handle, kind};
  library();
  enumerate(bench.direct);
  bench.consistent = SameDevices(library, bench.direct, what) && bench.consistent;
  PrintComparison(label, Compare(bench.repetitions, library, [&] { enumerate(bench.direct); }));
}

// The preferred device of a kind stored as the last one listed, so that the lookup walks
// them all; then the library's lookup of its id against the direct one.
void ComparePreferredLookup(Bench& bench, MmdrHandle* handle, MmdrDeviceKind kind,
                            const wchar_t* idValue, const wchar_t* nameValue,
                            void (*enumerate)(DirectList&), const char* label, const char* device) {
  enumerate(bench.direct);
  SetUserString(idValue, bench.direct.back().id);
  SetUserString(nameValue, bench.direct.back().name);
  char text[MMDR_TEXT_FIELD_SIZE];
  auto libraryLookup = [&] { return Mmdr_GetPrefDev(handle, kind, MMDR_PREF_ID, text); };
  auto directLookup = [&] { return DirectLookupId(idValue, nameValue, enumerate, bench.direct); };
  if (libraryLookup() != MMDR_OK || ConvertWideToUtf8(directLookup().c_str()) != text) {
    std::printf("MISMATCH in the preferred %s lookup\n", device);
    bench.consistent = false;
  }
  PrintComparison(label, Compare(bench.repetitions, libraryLookup, directLookup));
}

// The endpoint back end (the default), with one handle open as a caller keeps it.
// False when the library cannot be opened.
bool MeasureEndpointBackEnd(Bench& bench) {
  MmdrHandle* handle = nullptr;
  if (Mmdr_Init(1, &handle) != MMDR_OK) {
    std::printf("Mmdr_Init failed\n");
    return false;
  }
  bench.webcams.GrowTo(8);
  CompareEnumeration(bench, handle, MMDR_DEVICE_VIDEO, "Mmdr_EnumDevices video (8 webcams)",
                     "video", DirectVideoEnum);
  CompareEnumeration(bench, handle, MMDR_DEVICE_AUDIO, "Mmdr_EnumDevices audio, endpoints",
                     "audio endpoints", DirectMicrophones);
  ComparePreferredLookup(bench, handle, MMDR_DEVICE_VIDEO, L"srcWCamId", L"srcWCamName",
                         DirectVideoEnum, "Mmdr_GetPrefDev webcam id (8 webcams)", "webcam");
  ComparePreferredLookup(bench, handle, MMDR_DEVICE_AUDIO, L"srcAudioInId", L"srcAudioInName",
                         DirectMicrophones, "Mmdr_GetPrefDev microphone id, endpoints",
                         "microphone");
  Mmdr_Uninit(handle);
  return true;
}

// The DirectSound back end: the handle holds dsound.dll, as the direct session does.
// False when either side cannot be set up.
bool MeasureDirectSoundBackEnd(Bench& bench, SavedValue& wasapi) {
  wasapi.SetDword(0);
  MmdrHandle* handle = nullptr;
  DirectSoundSession session;
  if (Mmdr_Init(1, &handle) != MMDR_OK || !session.Open()) {
    std::printf("DirectSound set-up failed\n");
    return false;
  }
  CompareEnumeration(bench, handle, MMDR_DEVICE_AUDIO, "Mmdr_EnumDevices audio, DirectSound",
                     "audio DirectSound", [&](DirectList& out) {
                       ReadBackEndSwitch();
                       session.Enumerate(out);
                     });
  Mmdr_Uninit(handle);
  wasapi.Remove();
  return true;
}

// Enumeration and the preferred-webcam lookup with count webcams, through the library's
// enumeration of video; the preferred webcam is the last one listed.
ScalingRow MeasureWithWebcams(Bench& bench, LibraryEnumeration& video, unsigned count) {
  char text[MMDR_TEXT_FIELD_SIZE];
  bench.webcams.Clear();
  bench.webcams.GrowTo(count);
  video();
  DirectVideoEnum(bench.direct);
  bench.consistent = SameDevices(video, bench.direct, "video scaling") && bench.consistent;
  const Comparison enumeration =
      Compare(bench.repetitions, video, [&] { DirectVideoEnum(bench.direct); });
  SetUserString(L"srcWCamId", bench.direct.back().id);
  SetUserString(L"srcWCamName", bench.direct.back().name);
  const Comparison lookup = Compare(
      bench.repetitions,
      [&] { return Mmdr_GetPrefDev(video.handle, MMDR_DEVICE_VIDEO, MMDR_PREF_ID, text); },
      [&] { return DirectLookupId(L"srcWCamId", L"srcWCamName", DirectVideoEnum, bench.direct); });
  const double n = static_cast<double>(video.count);
  std::printf("  %8u %10.1f %10.1f %10.1f %10.1f %10.1f %10.1f %10.1f\n", video.count,
              enumeration.library, enumeration.direct, enumeration.library / n,
              enumeration.direct / n, lookup.library, lookup.direct, lookup.library / n);
  return {n, enumeration, lookup};
}

// Scaling with the number of webcams: 1, 8 and 64, a row each, through one handle.
std::vector<ScalingRow> MeasureWebcamScaling(Bench& bench) {
  std::printf("\nscaling (video): medians in microseconds; per device = median / webcams\n");
  std::printf("  %8s %10s %10s %10s %10s %10s %10s %10s\n", "webcams", "lib enum", "dir enum",
              "lib/dev", "dir/dev", "lib look", "dir look", "look/dev");
  std::vector<ScalingRow> rows;
  MmdrHandle* handle = nullptr;
  Mmdr_Init(1, &handle);
  LibraryEnumeration video{handle, MMDR_DEVICE_VIDEO};
  for (unsigned count : {1u, 8u, 64u}) rows.push_back(MeasureWithWebcams(bench, video, count));
  Mmdr_Uninit(handle);
  return rows;
}

// Under Wine, which tells nothing of webcams, the watch lists them again every 500 ms; its
// endpoint list is built once per process, so no microphone can come or go here.
void MeasureWatch(Bench& bench) {
  MmdrHandle* handle = nullptr;
  if (Mmdr_Init(1, &handle) != MMDR_OK) return;
  bench.webcams.Clear();
  bench.webcams.GrowTo(8);
  kestrel_bench::PrintWatchHeader();
  kestrel_bench::MeasureWatchLatency(
      handle, MMDR_WATCH_VIDEO, "a webcam registered or removed",
      [&](int i) { return i % 2 == 0 ? bench.webcams.GrowTo(9) : bench.webcams.ShrinkTo(8); });
  kestrel_bench::MeasureWatchAtRest(handle);
  Mmdr_Uninit(handle);
}

}  // namespace

int main(int argc, char** argv) {
  // Only allocation can throw here: a failed run, not an abort.
  try {
    SavedValue wasapi(HKEY_LOCAL_MACHINE, L"EnableAInWasapi");
    SavedValue camId(HKEY_CURRENT_USER, L"srcWCamId");
    SavedValue camName(HKEY_CURRENT_USER, L"srcWCamName");
    SavedValue micId(HKEY_CURRENT_USER, L"srcAudioInId");
    SavedValue micName(HKEY_CURRENT_USER, L"srcAudioInName");
    wasapi.Remove();
    Bench bench;
    bench.repetitions =
        argc > 1 ? std::max(3, static_cast<int>(std::strtol(argv[1], nullptr, 10))) : 21;

    PrintComparisonHeader(bench.repetitions);
    if (!MeasureEndpointBackEnd(bench)) return 1;
    if (!MeasureDirectSoundBackEnd(bench, wasapi)) return 1;
    PrintMarginalCosts("webcam", MeasureWebcamScaling(bench));
    MeasureWatch(bench);
    return bench.consistent ? 0 : 1;
  } catch (const std::exception& error) {
    static_cast<void>(std::fprintf(stderr, "platform_bench: %s\n", error.what()));
    return 1;
  }
}
