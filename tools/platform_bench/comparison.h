// What both platforms' platform_bench share: timing the library's side of a call against
// the direct one, alternately, and printing the medians. A benchmark prints figures; it
// never fails on one.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "kestrelCliLib.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/resource.h>
#endif

namespace kestrel_bench {

inline double NowMicroseconds() {
  return std::chrono::duration<double, std::micro>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

inline double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

struct Comparison {
  double library = 0;      // median, microseconds
  double direct = 0;       // median, microseconds
  double pairedRatio = 0;  // median of library / direct over runs made back to back
  double ratio() const { return direct > 0 ? library / direct : 0; }
};

// Runs both sides once to warm up, then repetitions times each, alternating which
// goes first.
template <typename Library, typename Direct>
Comparison Compare(int repetitions, Library&& library, Direct&& direct) {
  library();
  direct();
  std::vector<double> libraryTimes;
  std::vector<double> directTimes;
  auto timeOne = [](auto& body, std::vector<double>& into) {
    const double start = NowMicroseconds();
    body();
    into.push_back(NowMicroseconds() - start);
  };
  for (int i = 0; i < repetitions; ++i) {
    if (i % 2 == 0) {
      timeOne(library, libraryTimes);
      timeOne(direct, directTimes);
    } else {
      timeOne(direct, directTimes);
      timeOne(library, libraryTimes);
    }
  }
  std::vector<double> ratios;
  for (std::size_t i = 0; i < libraryTimes.size(); ++i) {
    ratios.push_back(libraryTimes[i] / directTimes[i]);
  }
  return {Median(libraryTimes), Median(directTimes), Median(ratios)};
}

inline void PrintComparisonHeader(int repetitions) {
  std::printf("platform_bench: medians of %d alternating runs, microseconds per call\n",
              repetitions);
  std::printf("  %-44s %10s %10s %7s %7s\n", "call", "library", "direct", "ratio", "paired");
}

inline void PrintComparison(const char* what, const Comparison& c) {
  std::printf("  %-44s %10.1f %10.1f %7.3f %7.3f %s\n", what, c.library, c.direct, c.ratio(),
              c.pairedRatio, c.ratio() <= 1.10 ? "ok" : "OVER 1.10");
}

// Enumeration and the preferred-device lookup, both sides, with a number of devices.
struct ScalingRow {
  double devices;
  Comparison enumeration;
  Comparison lookup;
};

// What one more device costs between the sizes: flat when nothing is quadratic.
inline void PrintMarginalCosts(const char* noun, const std::vector<ScalingRow>& rows) {
  std::printf("  marginal cost per added %s (microseconds):\n", noun);
  for (std::size_t i = 1; i < rows.size(); ++i) {
    const double added = rows[i].devices - rows[i - 1].devices;
    std::printf(
        "    %3.0f -> %3.0f: lib enum %7.1f  dir enum %7.1f  lib look %7.1f  dir look %7.1f\n",
        rows[i - 1].devices, rows[i].devices,
        (rows[i].enumeration.library - rows[i - 1].enumeration.library) / added,
        (rows[i].enumeration.direct - rows[i - 1].enumeration.direct) / added,
        (rows[i].lookup.library - rows[i - 1].lookup.library) / added,
        (rows[i].lookup.direct - rows[i - 1].lookup.direct) / added);
  }
}

// The library's entries for one kind (a single call with room for every device).
struct LibraryEnumeration {
  MmdrHandle* handle = nullptr;
  MmdrDeviceKind kind = MMDR_DEVICE_VIDEO;
  std::vector<MmdrDeviceEntry> entries = std::vector<MmdrDeviceEntry>(256);
  uint32_t count = 0;
  MmdrResult operator()() {
    return Mmdr_EnumDevices(handle, kind,
                            static_cast<uint32_t>(entries.size() * sizeof(MmdrDeviceEntry)),
                            entries.data(), &count);
  }
};

// True when the library's entries name the same devices, in the same order, as the
// direct enumeration, whose texts utf8(text) gives as UTF-8 (cut to the field's 259
// bytes); says so when not.
template <typename DirectList, typename Utf8>
bool SameDevices(const LibraryEnumeration& library, const DirectList& direct, const char* what,
                 Utf8&& utf8) {
  const auto field = [](const char* text) { return std::string(text, strnlen(text, 259)); };
  bool same = library.count == direct.size();
  for (std::size_t i = 0; same && i < direct.size(); ++i) {
    same = utf8(direct[i].id).substr(0, 259) == field(library.entries[i].id) &&
           utf8(direct[i].name).substr(0, 259) == field(library.entries[i].name);
  }
  if (!same) {
    std::printf("MISMATCH in %s: the library lists %u devices, the direct enumeration %zu\n", what,
                library.count, direct.size());
  }
  return same;
}

// ---- Watching --------------------------------------------------------------------

using WatchClock = std::chrono::steady_clock;

inline double Milliseconds(WatchClock::duration duration) {
  return std::chrono::duration<double, std::milli>(duration).count();
}

// The process's processor time so far, user and system, in seconds.
inline double CpuSeconds() {
#ifdef _WIN32
  FILETIME created, exited, system, user;
  if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &system, &user)) return 0;
  const auto ticks = [](const FILETIME& time) {  // 100 ns each
    return (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
  };
  return static_cast<double>(ticks(system) + ticks(user)) / 1e7;
#else
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
#endif
}

inline void PrintWatchHeader() {
  std::printf("\nwatch: change to report, ms (goal: median <= 250, p95 <= 500)\n");
  std::printf("  %-34s %8s %8s %6s\n", "", "median", "p95", "n");
}

// From a change made (the command that makes it has returned) to the watch's report, for
// 50 changes: median and 95th percentile in milliseconds.
template <typename Change>
void MeasureWatchLatency(MmdrHandle* handle, std::uint32_t kind, const char* what, Change change) {
  constexpr int kChanges = 50;
  std::vector<double> latencies;
  std::uint32_t changed = 0;
  Mmdr_WatchDevices(handle, kind, 1000, &changed);  // followed, and settled
  for (int i = 0; i < kChanges; ++i) {
    if (!change(i)) return;
    const auto made = WatchClock::now();
    changed = 0;
    if (Mmdr_WatchDevices(handle, kind, 5000, &changed) != MMDR_OK || changed != kind) {
      std::printf("  %s: change %d not reported\n", what, i);
      continue;
    }
    latencies.push_back(Milliseconds(WatchClock::now() - made));
  }
  if (latencies.empty()) return;
  std::sort(latencies.begin(), latencies.end());
  std::printf("  %-34s %8.1f %8.1f %6zu\n", what, latencies[latencies.size() / 2],
              latencies[(latencies.size() * 95 - 1) / 100], latencies.size());
}

// Nothing happening: a zero-timeout watch against Mmdr_IsValid, per call, and the
// processor time a 10 s watch takes.
inline void MeasureWatchAtRest(MmdrHandle* handle) {
  constexpr int kCalls = 20000;
  std::uint32_t changed = 0;
  Mmdr_WatchDevices(handle, MMDR_WATCH_ALL, 1000, &changed);
  auto start = WatchClock::now();
  for (int i = 0; i < kCalls; ++i) Mmdr_WatchDevices(handle, MMDR_WATCH_ALL, 0, &changed);
  const double watchUs = Milliseconds(WatchClock::now() - start) * 1000 / kCalls;
  start = WatchClock::now();
  for (int i = 0; i < kCalls; ++i) Mmdr_IsValid(handle);
  const double validUs = Milliseconds(WatchClock::now() - start) * 1000 / kCalls;
  std::printf(
      "  zero-timeout watch, nothing pending: %.2f us a call; Mmdr_IsValid %.2f us (x%.1f)\n",
      watchUs, validUs, watchUs / validUs);
  const double cpu = CpuSeconds();
  start = WatchClock::now();
  Mmdr_WatchDevices(handle, MMDR_WATCH_ALL, 10000, &changed);
  const double wall = Milliseconds(WatchClock::now() - start) / 1000;
  std::printf("  10 s watch, nothing happening: %.3f%% of one core (%.1f s, report 0x%x)\n",
              100 * (CpuSeconds() - cpu) / wall, wall, static_cast<unsigned>(changed));
}

}  // namespace kestrel_bench
