// platform_bench (Linux): what each exported call costs next to the same platform work
// done directly in this process, and how enumeration and the preferred-device lookup scale
// with the number of webcams and of microphones.
//
// Webcams come from a fake V4L2 root (the enumerator's test seam): nodes are regular files
// that open and close for real, and VIDIOC_QUERYCAP is answered from a table. Microphones
// come from the sound server that PULSE_SERVER names, to which the benchmark adds null
// sources (scripts/bench.sh starts a private one); libpulse stays loaded in this process, as
// the direct side links it. Settings live in a temporary XDG_CONFIG_HOME. With
// KESTREL_BENCH_PIPEWIRE naming a PipeWire daemon's socket, one more row lists the webcams
// with that daemon's cameras.
//
// Library and direct runs alternate and every figure is a median. The program prints and
// asserts nothing about speed; it exits non-zero only when the two sides disagree about the
// devices, since the figures would then compare different work.
//
// Usage: PULSE_SERVER=... platform_bench [repetitions [--no-watch]]   (default 21)
// --no-watch leaves out the watch's figures (half a minute of waiting): what the suite runs
// to check that both sides agree.
// Columns: median library time, median direct time, their ratio (the figure the 1.10
// target applies to), and the median of the per-pair ratios as a check on drift.
#include <fcntl.h>
#include <linux/videodev2.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "comparison.h"
#include "devices/v4l2_system_linux.h"
#include "direct_platform_linux.h"
#include "kestrelCliLib.h"

extern char** environ;  // NOLINT(readability-redundant-declaration): for posix_spawnp

namespace {

namespace fs = std::filesystem;
using kestrel_bench::Compare;
using kestrel_bench::Comparison;
using kestrel_bench::LibraryEnumeration;
using kestrel_bench::PrintComparison;
using kestrel_bench::PrintComparisonHeader;
using kestrel_bench::PrintMarginalCosts;
using kestrel_bench::ScalingRow;
using kestrel_direct::DirectList;

// ---- Webcams: a fake V4L2 root -------------------------------------------------

// The webcam number of each open descriptor (its card is "Bench Camera <number>").
std::array<int, 4096> g_webcamOfFd{};

int BenchOpen(const char* path, int flags) {
  const int fd = ::open(path, flags);
  const char* number = std::strrchr(path, 'o');  // ".../dev/video<number>"
  if (fd >= 0 && static_cast<std::size_t>(fd) < g_webcamOfFd.size() && number != nullptr) {
    g_webcamOfFd.at(static_cast<std::size_t>(fd)) = std::atoi(number + 1);  // NOLINT(cert-err34-c)
  }
  return fd;
}
int BenchIoctl(int fd, unsigned long request, void* argument) {
  if (request != VIDIOC_QUERYCAP || fd < 0 || static_cast<std::size_t>(fd) >= g_webcamOfFd.size()) {
    return -1;
  }
  auto& capability = *static_cast<v4l2_capability*>(argument);
  capability = v4l2_capability{};
  static_cast<void>(std::snprintf(reinterpret_cast<char*>(capability.card), sizeof capability.card,
                                  "Bench Camera %d",
                                  g_webcamOfFd.at(static_cast<std::size_t>(fd))));
  capability.capabilities = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_DEVICE_CAPS;
  capability.device_caps = V4L2_CAP_VIDEO_CAPTURE;
  return 0;
}
int BenchClose(int fd) { return ::close(fd); }

// The root's webcams, each with its sysfs entry, its node and a by-id link as udev makes.
class BenchWebcams {
 public:
  explicit BenchWebcams(const std::string& root)
      : root_(root), system_{&BenchOpen, &BenchIoctl, &BenchClose, root_.c_str()} {
    fs::create_directories(root_ + "/dev/v4l/by-id");
    SetV4l2SystemForTesting(&system_);
  }
  ~BenchWebcams() { SetV4l2SystemForTesting(nullptr); }
  BenchWebcams(const BenchWebcams&) = delete;
  BenchWebcams& operator=(const BenchWebcams&) = delete;

  // Exactly count webcams, video0 up.
  void SetCount(unsigned count) {
    if (count < count_) {
      for (const char* folder : {"/dev", "/sys/class/video4linux"}) fs::remove_all(root_ + folder);
      fs::create_directories(root_ + "/dev/v4l/by-id");
      count_ = 0;
    }
    for (; count_ < count; ++count_) {
      const std::string node = "video" + std::to_string(count_);
      fs::create_directories(root_ + "/sys/class/video4linux/" + node);
      std::ofstream(root_ + "/sys/class/video4linux/" + node + "/name") << "Bench\n";
      std::ofstream(root_ + "/dev/" + node).flush();
      fs::create_symlink("../../" + node, root_ + "/dev/v4l/by-id/usb-Bench_Camera_" +
                                              std::to_string(count_) + "-video-index0");
    }
  }
  void List(DirectList& out) const { kestrel_direct::DirectWebcams(system_, out); }

 private:
  std::string root_;
  V4l2System system_;
  unsigned count_ = 0;
};

// ---- Microphones: null sources of the private server ------------------------------

// Runs pactl with these arguments against PULSE_SERVER; true when it succeeded.
bool Pactl(std::vector<std::string> words) {
  words.insert(words.begin(), "pactl");
  std::vector<char*> argv;
  argv.reserve(words.size() + 1);
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t quiet;  // the module numbers it prints are of no interest
  posix_spawn_file_actions_init(&quiet);
  posix_spawn_file_actions_addopen(&quiet, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  pid_t child = 0;
  int status = 0;
  const bool ran = posix_spawnp(&child, argv[0], &quiet, nullptr, argv.data(), environ) == 0 &&
                   waitpid(child, &status, 0) == child;
  posix_spawn_file_actions_destroy(&quiet);
  return ran && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

class BenchMicrophones {
 public:
  // Exactly count null sources, bench.mic0 up.
  bool SetCount(unsigned count) {
    if (count < count_) {
      if (!Pactl({"unload-module", "module-null-source"})) return false;
      count_ = 0;
    }
    for (; count_ < count; ++count_) {
      const std::string number = std::to_string(count_);
      if (!Pactl({"load-module", "module-null-source", "source_name=bench.mic" + number,
                  "description='Bench Microphone " + number + "'"})) {
        return false;
      }
    }
    return true;
  }
  // The library reads the back end's switch at every microphone call; so does this side.
  static void List(DirectList& out) {
    kestrel_direct::DirectMachineSetting("EnableAInWasapi");
    kestrel_direct::DirectSoundServer(out);
  }

 private:
  unsigned count_ = 0;
};

// ---- Comparing -----------------------------------------------------------------

bool SameDevices(const LibraryEnumeration& library, const DirectList& direct, const char* what) {
  return kestrel_bench::SameDevices(library, direct, what,
                                    [](const std::string& text) { return text; });
}

// One kind of device as the benchmark drives it.
struct Kind {
  MmdrDeviceKind kind;
  const char* noun;  // "webcam"
  const char* idKey;
  const char* nameKey;
  std::vector<unsigned> sizes;  // for the scaling rows
  std::function<bool(unsigned)> setCount;
  std::function<void(DirectList&)> list;
};

struct Bench {
  int repetitions = 21;
  MmdrHandle* handle = nullptr;
  DirectList direct;
  bool consistent = true;
};

// The preferred device stored as the last one listed, so that the lookup walks them all;
// the direct lookup reads the settings, lists, and matches the id, then the name.
Comparison CompareLookup(Bench& bench, const Kind& kind, const char* what) {
  kind.list(bench.direct);
  if (bench.direct.empty()) bench.direct.push_back({"none", "none"});  // a mismatch below
  const kestrel_direct::DirectDevice last = bench.direct.back();
  Mmdr_SetPrefDev(bench.handle, kind.kind, last.id.c_str(), last.name.c_str());
  char text[MMDR_TEXT_FIELD_SIZE];
  auto library = [&] { return Mmdr_GetPrefDev(bench.handle, kind.kind, MMDR_PREF_ID, text); };
  auto direct = [&] {
    const std::string id = kestrel_direct::DirectSetting(kind.idKey);
    const std::string name = kestrel_direct::DirectSetting(kind.nameKey);
    kind.list(bench.direct);
    for (const auto& device : bench.direct) {
      if (!id.empty() && device.id == id) return device.id;
    }
    for (const auto& device : bench.direct) {
      if (!name.empty() && device.name == name) return device.id;
    }
    return std::string();
  };
  if (library() != MMDR_OK || direct() != text) {
    std::printf("MISMATCH in the preferred %s lookup\n", what);
    bench.consistent = false;
  }
  return Compare(bench.repetitions, library, direct);
}

Comparison CompareEnumeration(Bench& bench, const Kind& kind, LibraryEnumeration& library,
                              const char* what) {
  library();
  kind.list(bench.direct);
  bench.consistent = SameDevices(library, bench.direct, what) && bench.consistent;
  return Compare(bench.repetitions, library, [&] { kind.list(bench.direct); });
}

// Enumeration and lookup with a few numbers of devices of a kind, then what one more
// costs between the sizes: flat when nothing is quadratic.
void MeasureScaling(Bench& bench, const Kind& kind) {
  std::printf("\nscaling (%ss): medians in microseconds; per device = median / %ss\n", kind.noun,
              kind.noun);
  std::printf("  %8s %10s %10s %10s %10s %10s %10s %10s\n", "devices", "lib enum", "dir enum",
              "lib/dev", "dir/dev", "lib look", "dir look", "look/dev");
  LibraryEnumeration library{bench.handle, kind.kind};
  std::vector<ScalingRow> rows;
  for (unsigned count : kind.sizes) {
    if (!kind.setCount(count)) {
      std::printf("cannot add %ss\n", kind.noun);
      bench.consistent = false;
      return;
    }
    ScalingRow row{static_cast<double>(count), CompareEnumeration(bench, kind, library, kind.noun),
                   CompareLookup(bench, kind, kind.noun)};
    std::printf("  %8u %10.1f %10.1f %10.1f %10.1f %10.1f %10.1f %10.1f\n", count,
                row.enumeration.library, row.enumeration.direct, row.enumeration.library / count,
                row.enumeration.direct / count, row.lookup.library, row.lookup.direct,
                row.lookup.library / count);
    rows.push_back(row);
  }
  PrintMarginalCosts(kind.noun, rows);
}

// ---- Watching --------------------------------------------------------------------

using kestrel_bench::MeasureWatchLatency;

void MeasureWatch(MmdrHandle* handle, BenchWebcams& webcams) {
  kestrel_bench::PrintWatchHeader();
  MeasureWatchLatency(handle, MMDR_WATCH_VIDEO, "a webcam node made or removed",
                      [&](int i) { return webcams.SetCount(8 + (i % 2 == 0 ? 1 : 0)), true; });
  std::string module;
  MeasureWatchLatency(handle, MMDR_WATCH_AUDIO, "a source loaded or unloaded", [&](int i) {
    if (i % 2 == 1) return Pactl({"unload-module", module});
    // The module's number, which its unloading names. A fixed command line of the benchmark's.
    // NOLINTNEXTLINE(cert-env33-c)
    std::FILE* pactl = popen("pactl load-module module-null-source source_name=bench.watch", "r");
    char index[32] = "";
    const bool read = pactl != nullptr && std::fgets(index, sizeof index, pactl) != nullptr;
    if (pactl != nullptr) pclose(pactl);
    module = std::string(index, std::strcspn(index, "\n"));
    return read;
  });
  kestrel_bench::MeasureWatchAtRest(handle);
}

}  // namespace

int main(int argc, char** argv) {
  // NOLINTBEGIN(concurrency-mt-unsafe): the benchmark has one thread
  if (std::getenv("PULSE_SERVER") == nullptr) {
    std::printf(
        "platform_bench: PULSE_SERVER must name a private sound server (scripts/bench.sh)\n");
    return 2;
  }
  std::string scratch = (fs::temp_directory_path() / "kestrel-bench-XXXXXX").string();
  if (mkdtemp(scratch.data()) == nullptr) return 2;
  setenv("XDG_CONFIG_HOME", (scratch + "/config").c_str(), 1);
  // No PipeWire but in its own row: the direct V4L2 side would miss its cameras.
  const std::string noPipeWire = scratch + "/no-pipewire";
  setenv("PIPEWIRE_REMOTE", noPipeWire.c_str(), 1);
  // NOLINTEND(concurrency-mt-unsafe)
  Bench bench;
  if (argc > 1) bench.repetitions = std::max(3, std::atoi(argv[1]));  // NOLINT(cert-err34-c)
  BenchWebcams webcams(scratch + "/root");
  BenchMicrophones microphones;
  const Kind video{MMDR_DEVICE_VIDEO,
                   "webcam",
                   "srcWCamId",
                   "srcWCamName",
                   {1, 8, 64},
                   [&](unsigned count) {
                     webcams.SetCount(count);
                     return true;
                   },
                   [&](DirectList& out) { webcams.List(out); }};
  // The sound server keeps itself under 256 open files: about 60 null sources.
  const Kind audio{MMDR_DEVICE_AUDIO,
                   "microphone",
                   "srcAudioInId",
                   "srcAudioInName",
                   {1, 8, 48},
                   [&](unsigned count) { return microphones.SetCount(count); },
                   &BenchMicrophones::List};
  if (Mmdr_Init(MMDR_MODE_1, &bench.handle) != MMDR_OK) return 1;

  PrintComparisonHeader(bench.repetitions);
  for (const Kind* kind : {&video, &audio}) {
    if (!kind->setCount(8)) {
      std::printf("cannot add %ss\n", kind->noun);
      return 1;
    }
    LibraryEnumeration library{bench.handle, kind->kind};
    char label[64];
    static_cast<void>(std::snprintf(label, sizeof label, "Mmdr_EnumDevices, 8 %ss", kind->noun));
    PrintComparison(label, CompareEnumeration(bench, *kind, library, kind->noun));
    static_cast<void>(
        std::snprintf(label, sizeof label, "Mmdr_GetPrefDev %s id, 8 %ss", kind->noun, kind->noun));
    PrintComparison(label, CompareLookup(bench, *kind, kind->noun));
  }
  // Webcams with PipeWire present (the daemon at KESTREL_BENCH_PIPEWIRE, its cameras, one of
  // them a V4L2 node's): V4L2's work and the registry's round trip, done directly.
  if (const char* pipeWire =
          std::getenv("KESTREL_BENCH_PIPEWIRE")) {  // NOLINT(concurrency-mt-unsafe)
    setenv("PIPEWIRE_REMOTE", pipeWire, 1);         // NOLINT(concurrency-mt-unsafe): one thread
    Kind withPipeWire = video;
    withPipeWire.list = [&](DirectList& out) {
      webcams.List(out);
      kestrel_direct::DirectPipeWireCameras(out);
    };
    webcams.SetCount(8);
    LibraryEnumeration library{bench.handle, MMDR_DEVICE_VIDEO};
    PrintComparison("Mmdr_EnumDevices, 8 webcams + PipeWire's",
                    CompareEnumeration(bench, withPipeWire, library, "webcam"));
    setenv("PIPEWIRE_REMOTE", noPipeWire.c_str(), 1);  // NOLINT(concurrency-mt-unsafe)
  }
  MeasureScaling(bench, video);
  MeasureScaling(bench, audio);
  if (argc < 3 || std::strcmp(argv[2], "--no-watch") != 0) MeasureWatch(bench.handle, webcams);
  Mmdr_Uninit(bench.handle);
  fs::remove_all(scratch);
  return bench.consistent ? 0 : 1;
}
