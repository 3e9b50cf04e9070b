// A long loop of what a caller does (open, list both kinds, look up and store the
// preferred devices, read the option, close) must leave the process's handle count and
// memory flat once the system's first-use allocations are behind it. Wine's own device
// components grow a little with every enumeration, so the same platform work is also
// done directly, and the library may add nothing beyond it. The figures are printed; the
// test fails only on a clear upward trend over the second half of a loop.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "devices/dsound_lib.h"
#include "direct_platform.h"
#include "kestrelCliLib.h"
#include "stress/stress_support.h"
#include "support/registry_scratch.h"
#include "support/webcam_fixture.h"

namespace {

using kestrel_stress::WasapiSwitch;

using kestrel_stress::DeviceEntry;

constexpr int kWarmUpCycles = 10;
constexpr int kLibraryCycles = 100;
constexpr int kDirectCycles = 50;
constexpr int kSampleEvery = 10;
// Growth allowed over the second half of the library's loop (50 cycles) beyond what the
// direct platform work shows for as many cycles. A leak of one handle, or of a few
// hundred bytes, per cycle exceeds these by far; page-sized noise of the system's own
// allocators does not.
constexpr std::int64_t kHandleGrowthBound = 3;
constexpr std::int64_t kHeapGrowthBound = 16 * 1024;
constexpr std::int64_t kPrivateGrowthBound = 256 * 1024;

struct Sample {
  int cycle;
  unsigned handles;
  std::uint64_t privateBytes;
  std::uint64_t heapBytes;
};

Sample TakeSample(int cycle) {
  return {cycle, kestrel_stress::CountProcessHandles(), kestrel_stress::PrivateBytes(),
          kestrel_stress::HeapBusyBytes()};
}

// One caller's session; the empty text, or the first call that answered unexpectedly.
std::string OneCycle() {
  MmdrHandle* handle = nullptr;
  if (Mmdr_Init(1, &handle) != MMDR_OK) return "Mmdr_Init";
  std::string failed;
  auto check = [&failed](bool ok, const char* what) {
    if (!ok && failed.empty()) failed = what;
    return failed.empty();
  };
  bool failure = false;
  const std::vector<DeviceEntry> video =
      kestrel_stress::ListDevices(handle, MMDR_DEVICE_VIDEO, &failure);
  const std::vector<DeviceEntry> audio =
      check(!failure && !video.empty(), "webcam list")
          ? kestrel_stress::ListDevices(handle, MMDR_DEVICE_AUDIO, &failure)
          : std::vector<DeviceEntry>();
  if (check(!failure && !audio.empty(), "microphone list")) {
    // Stored by id and found again: the full lookup path, match and copy included.
    char text[MMDR_TEXT_FIELD_SIZE];
    check(Mmdr_SetPrefDev(handle, MMDR_DEVICE_VIDEO, video.back().id.c_str(),
                          video.back().name.c_str()) == MMDR_OK,
          "storing the webcam");
    check(Mmdr_SetPrefDev(handle, MMDR_DEVICE_AUDIO, audio.back().id.c_str(),
                          audio.back().name.c_str()) == MMDR_OK,
          "storing the microphone");
    check(Mmdr_GetPrefDev(handle, MMDR_DEVICE_VIDEO, MMDR_PREF_ID, text) == MMDR_OK &&
              kestrel_stress::FieldText(text) == video.back().id,
          "looking up the webcam");
    // The first device with that id wins; under Wine every DirectSound microphone
    // carries the same interface text.
    const DeviceEntry& picked = *std::find_if(
        audio.begin(), audio.end(),
        [&](const DeviceEntry& device) { return device.id == audio.back().id; });
    check(Mmdr_GetPrefDev(handle, MMDR_DEVICE_AUDIO, MMDR_PREF_NAME, text) == MMDR_OK &&
              kestrel_stress::FieldText(text) == picked.name,
          "looking up the microphone");
  }
  std::uint32_t option = 0;
  std::uint8_t enabled = 0;
  check(Mmdr_SetAudioInSelectOption(handle, 2) == MMDR_OK &&
            Mmdr_GetAudioInSelectOption(handle, &option) == MMDR_OK && option == 2,
        "the option");
  check(Mmdr_IsEnabled(handle, &enabled) == MMDR_OK, "Mmdr_IsEnabled");
  Mmdr_Uninit(handle);
  return failed;
}

// The platform work of one cycle without the library: three webcam and three microphone
// enumerations (two lists by the two-call pattern and one lookup each), with dsound.dll
// loaded and freed around them as a DirectSound session of the library does.
void DirectCycle(bool directSound) {
  kestrel_direct::DirectList list;
  for (int i = 0; i < 3; ++i) kestrel_direct::DirectVideoEnum(list);
  if (directSound) {
    kestrel_direct::DirectSoundSession session;
    session.Open();
    for (int i = 0; i < 3; ++i) session.Enumerate(list);
  } else {
    for (int i = 0; i < 3; ++i) kestrel_direct::DirectEndpointEnum(list);
  }
}

// Growth over the second half of a loop, per cycle.
struct Trend {
  double handles;
  double privateBytes;
  double heapBytes;
};

// Runs cycle `cycles` times after a warm-up, printing a sample every few cycles.
template <typename Cycle>
Trend MeasureLoop(const char* title, int cycles, Cycle&& cycle) {
  for (int i = 0; i < kWarmUpCycles / 2; ++i) cycle();
  std::vector<Sample> samples{TakeSample(0)};
  const DWORD start = GetTickCount();
  for (int i = 1; i <= cycles; ++i) {
    cycle();
    if (i % kSampleEvery == 0) samples.push_back(TakeSample(i));
  }
  std::printf("%s: %d cycles in %lu ms\n%8s %8s %14s %14s\n", title, cycles,
              GetTickCount() - start, "cycle", "handles", "private bytes", "heap bytes");
  for (const Sample& s : samples) {
    std::printf("%8d %8u %14llu %14llu\n", s.cycle, s.handles,
                static_cast<unsigned long long>(s.privateBytes),
                static_cast<unsigned long long>(s.heapBytes));
  }
  // The second half against its own start: first-use growth of the system has settled
  // by then, and a steady leak shows in full.
  const Sample& middle = samples[samples.size() / 2];
  const Sample& last = samples.back();
  const double n = last.cycle - middle.cycle;
  const Trend trend = {
      (static_cast<double>(last.handles) - middle.handles) / n,
      (static_cast<double>(last.privateBytes) - static_cast<double>(middle.privateBytes)) / n,
      (static_cast<double>(last.heapBytes) - static_cast<double>(middle.heapBytes)) / n};
  std::printf("second half, per cycle: handles %+.2f, private bytes %+.0f, heap bytes %+.0f\n",
              trend.handles, trend.privateBytes, trend.heapBytes);
  return trend;
}

class LeakCheck : public ::testing::TestWithParam<WasapiSwitch> {};

TEST_P(LeakCheck, RepeatedSessionsKeepHandlesAndMemoryFlat) {
  kestrel_stress::ScopedLibraryValues libraryValues(GetParam());
  kestrel_test::WebcamFixture webcams;
  ASSERT_TRUE(kestrel_stress::AddThreeWebcams(webcams, L"Leak"));

  const bool directSound = GetParam() == WasapiSwitch::kOff;
  for (int i = 0; i < kWarmUpCycles; ++i) ASSERT_EQ(OneCycle(), "") << "warm-up cycle " << i;
  const int dsoundLoadCount = kestrel_stress::ModuleLoadCount(L"dsound.dll");
  std::string failed;
  const Trend library = MeasureLoop("library", kLibraryCycles, [&] {
    const std::string step = OneCycle();
    if (failed.empty()) failed = step;
  });
  EXPECT_EQ(failed, "") << "a call answered unexpectedly";
  EXPECT_EQ(kestrel_stress::ModuleLoadCount(L"dsound.dll"), dsoundLoadCount);
  EXPECT_EQ(DSoundLib::GetInstance(), nullptr);
  const Trend direct = MeasureLoop("direct platform work", kDirectCycles,
                                   [&] { DirectCycle(directSound); });

  const double half = kLibraryCycles / 2;
  EXPECT_LE(library.handles * half, kHandleGrowthBound);
  EXPECT_LE(library.heapBytes * half, std::max(0.0, direct.heapBytes) * half + kHeapGrowthBound);
  EXPECT_LE(library.privateBytes * half,
            std::max(0.0, direct.privateBytes) * half + kPrivateGrowthBound);
}

INSTANTIATE_TEST_SUITE_P(Switch, LeakCheck,
                         ::testing::Values(WasapiSwitch::kAbsent, WasapiSwitch::kOff),
                         kestrel_stress::WasapiSwitchTestName);

}  // namespace
