// Eight threads drive every exported call at once: handles opened and closed,
// webcams and microphones listed, preferences read and stored, the audio-in option
// read and stored. Between rounds all threads store their own preference pair at the
// same instant, and the pair left in the registry must be one that a single call wrote
// whole. Afterwards the process holds no more handles or threads than before, the
// library's reference on dsound.dll is gone with the last handle, and the log ring (fed by the tracing
// levels during the run) still parses entry by entry.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "devices/dsound_lib.h"
#include "kestrelCliLib.h"
#include "log/log.h"
#include "stress/stress_support.h"
#include "support/log_capture.h"
#include "support/registry_scratch.h"
#include "support/webcam_fixture.h"

namespace {

using kestrel_stress::WasapiSwitch;

using kestrel_stress::DeviceEntry;

constexpr int kThreads = 8;
// Calibrated so that one run stays within about half a minute under Wine on two cores:
// an enumeration costs a few milliseconds alone there, but Wine serialises concurrent
// audio enumerations, which then take tens of milliseconds each.
constexpr int kRounds = 20;
constexpr int kCallsPerRound = 100;
constexpr unsigned kLockEventAllowance = 4;
constexpr int kLogBurst = 40;

class Barrier {
 public:
  explicit Barrier(int parties) : parties_(parties) {}
  void Wait() {
    std::unique_lock<std::mutex> lock(mutex_);
    const unsigned generation = generation_;
    if (++waiting_ == parties_) {
      waiting_ = 0;
      ++generation_;
      released_.notify_all();
      return;
    }
    released_.wait(lock, [&] { return generation != generation_; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable released_;
  const int parties_;
  int waiting_ = 0;
  unsigned generation_ = 0;
};

// The first few problems any thread found, reported by the main thread.
class Problems {
 public:
  void Add(std::string what) {
    std::lock_guard<std::mutex> lock(mutex_);
    ++count_;
    if (list_.size() < 12) list_.push_back(std::move(what));
  }
  std::string Summary() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::string text = std::to_string(count_) + " problem(s)";
    for (const std::string& line : list_) text += "\n  " + line;
    return text;
  }
  int count() {
    std::lock_guard<std::mutex> lock(mutex_);
    return count_;
  }

 private:
  std::mutex mutex_;
  std::vector<std::string> list_;
  int count_ = 0;
};

std::string Utf8(const std::wstring& text) {
  if (text.empty()) return {};
  const int size =
      WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                          nullptr, nullptr);
  std::string out(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size,
                      nullptr, nullptr);
  return out;
}

// A text value of the current user's key as stored, up to its first NUL.
std::string StoredUserText(const wchar_t* valueName) {
  const auto value =
      kestrel_test::ReadRegistryValue(HKEY_CURRENT_USER, kKestrelKeyPath, valueName);
  if (!value) return {};
  std::wstring text(value->bytes.size() / sizeof(wchar_t), L'\0');
  std::memcpy(text.data(), value->bytes.data(), text.size() * sizeof(wchar_t));
  return Utf8(text.substr(0, text.find(L'\0')));
}

struct Shared {
  std::vector<DeviceEntry> video;
  std::vector<DeviceEntry> audio;
  bool expectDirectSound = false;
  int dsoundLoadCountBefore = -1;
  // Held apart so that their wait objects are gone before the handles are counted.
  std::unique_ptr<Barrier> barrier = std::make_unique<Barrier>(kThreads);
  std::unique_ptr<Problems> problems = std::make_unique<Problems>();
  std::atomic<bool> stop{false};
};

const std::vector<DeviceEntry>& DevicesOf(const Shared& shared, MmdrDeviceKind kind) {
  return kind == MMDR_DEVICE_VIDEO ? shared.video : shared.audio;
}

// A pair that one call stores whole: a thread's own numbered pair, a present device's
// id with its own name, or (a microphone set without an id) two empty texts.
bool IsWholePair(const Shared& shared, MmdrDeviceKind kind, const std::string& id,
                 const std::string& name) {
  if (id.empty() && name.empty()) return kind == MMDR_DEVICE_AUDIO;
  const std::string idStart = "stress-id-";
  const std::string nameStart = "stress-name-";
  if (id.compare(0, idStart.size(), idStart) == 0 &&
      name.compare(0, nameStart.size(), nameStart) == 0) {
    return id.substr(idStart.size()) == name.substr(nameStart.size());
  }
  for (const DeviceEntry& device : DevicesOf(shared, kind)) {
    if (device.id == id && device.name == name) return true;
  }
  return false;
}

class Worker {
 public:
  Worker(Shared& shared, int index)
      : shared_(shared), index_(index), random_(0x5EED0000u + static_cast<unsigned>(index)) {}

  void Run() {
    if (Mmdr_Init(1 + index_ % 2, &own_) != MMDR_OK) {
      Problem("Mmdr_Init of the thread's own handle failed");
      own_ = nullptr;
    }
    for (int round = 0; round < kRounds; ++round) {
      for (int call = 0; call < kCallsPerRound && !shared_.stop; ++call) OneCall();
      shared_.barrier->Wait();
      // Every thread stores its own pair of each kind at the same moment, then writes a
      // burst of records, so that the ring takes writers that collide.
      StorePair(MMDR_DEVICE_VIDEO, "r" + std::to_string(round));
      StorePair(MMDR_DEVICE_AUDIO, "r" + std::to_string(round));
      for (int line = 0; line < kLogBurst; ++line) {
        Log(kLogLevelError, "%s - thread %d round %d line %d", "ConcurrencyStress", index_,
            round, line);
      }
      shared_.barrier->Wait();
      if (index_ == 0) CheckStoredPairs(round);
      shared_.barrier->Wait();
    }
    if (own_ != nullptr) Mmdr_Uninit(own_);
  }

 private:
  void Problem(const std::string& what) {
    shared_.problems->Add("thread " + std::to_string(index_) + ": " + what);
  }

  void Expect(bool condition, const char* call, MmdrResult result) {
    if (!condition) Problem(std::string(call) + " returned " + std::to_string(result));
  }

  int Pick(int bound) { return std::uniform_int_distribution<int>(0, bound - 1)(random_); }

  void StorePair(MmdrDeviceKind kind, const std::string& tag) {
    const std::string suffix = std::to_string(index_) + "-" + tag + "-" + std::to_string(++serial_);
    const std::string id = "stress-id-" + suffix;
    const std::string name = "stress-name-" + suffix;
    const MmdrResult result = Mmdr_SetPrefDev(own_, kind, id.c_str(), name.c_str());
    Expect(result == MMDR_OK, "Mmdr_SetPrefDev", result);
  }

  void OneCall() {
    // Per two hundred calls: 4 webcam lists, 1 microphone list, 4 lookups (each a list
    // of its own); the rest are registry and handle calls.
    const int dice = Pick(200);
    if (dice < 4) {
      EnumerateAndCompare(MMDR_DEVICE_VIDEO);
    } else if (dice < 5) {
      EnumerateAndCompare(MMDR_DEVICE_AUDIO);
    } else if (dice < 9) {
      GetPreference();
    } else if (dice < 40) {
      OpenAndClose();
    } else if (dice < 90) {
      SetPreference();
    } else if (dice < 140) {
      Option();
    } else {
      CheapCalls();
    }
  }

  void OpenAndClose() {
    MmdrHandle* handle = nullptr;
    const MmdrResult result = Mmdr_Init(1 + Pick(2), &handle);
    Expect(result == MMDR_OK && handle != nullptr, "Mmdr_Init", result);
    if (result != MMDR_OK) return;
    const MmdrResult valid = Mmdr_IsValid(handle);
    Expect(valid == MMDR_OK, "Mmdr_IsValid of a new handle", valid);
    std::uint8_t enabled = 0xCC;
    const MmdrResult enabledResult = Mmdr_IsEnabled(handle, &enabled);
    Expect(enabledResult == MMDR_OK && enabled == 1, "Mmdr_IsEnabled", enabledResult);
    Mmdr_Uninit(handle);
  }

  void EnumerateAndCompare(MmdrDeviceKind kind) {
    bool failure = false;
    const std::vector<DeviceEntry> devices = kestrel_stress::ListDevices(own_, kind, &failure);
    if (failure || devices != DevicesOf(shared_, kind)) {
      Problem(std::string(kind == MMDR_DEVICE_VIDEO ? "video" : "audio") +
              " enumeration differs from the one before the run: " +
              std::to_string(devices.size()) + " devices instead of " +
              std::to_string(DevicesOf(shared_, kind).size()));
    }
  }

  void SetPreference() {
    const MmdrDeviceKind kind = 1 + Pick(2);
    const std::vector<DeviceEntry>& devices = DevicesOf(shared_, kind);
    switch (Pick(4)) {
      case 0: {  // a present device, so that lookups find something
        const DeviceEntry& device = devices[static_cast<std::size_t>(Pick(
            static_cast<int>(devices.size())))];
        const MmdrResult result =
            Mmdr_SetPrefDev(own_, kind, device.id.c_str(), device.name.c_str());
        Expect(result == MMDR_OK, "Mmdr_SetPrefDev of a present device", result);
        break;
      }
      case 1:
        if (kind == MMDR_DEVICE_AUDIO) {  // clears both microphone texts
          const MmdrResult result = Mmdr_SetPrefDev(own_, kind, nullptr, "ignored name");
          Expect(result == MMDR_OK, "Mmdr_SetPrefDev without an id", result);
          break;
        }
        [[fallthrough]];
      default:
        StorePair(kind, "mix");
        break;
    }
  }

  void GetPreference() {
    const MmdrDeviceKind kind = 1 + Pick(2);
    const MmdrPrefField field = Pick(2);
    char text[MMDR_TEXT_FIELD_SIZE + 1];
    std::memset(text, 0x5A, sizeof text);
    const MmdrResult result = Mmdr_GetPrefDev(own_, kind, field, text);
    if (result == MMDR_NO_DATA) return;
    Expect(result == MMDR_OK, "Mmdr_GetPrefDev", result);
    if (text[MMDR_TEXT_FIELD_SIZE - 1] != 0x5A || text[MMDR_TEXT_FIELD_SIZE] != 0x5A) {
      Problem("Mmdr_GetPrefDev wrote past byte 258 of its field");
    }
    const std::string delivered = kestrel_stress::FieldText(text);
    bool present = false;
    for (const DeviceEntry& device : DevicesOf(shared_, kind)) {
      present = present || (field == MMDR_PREF_ID ? device.id : device.name) == delivered;
    }
    if (!present) Problem("Mmdr_GetPrefDev delivered a text of no present device: " + delivered);
  }

  void Option() {
    const std::uint32_t option = static_cast<std::uint32_t>(Pick(3));
    const MmdrResult set = Mmdr_SetAudioInSelectOption(own_, option);
    Expect(set == MMDR_OK, "Mmdr_SetAudioInSelectOption", set);
    std::uint32_t read = 0xDEADBEEF;
    const MmdrResult get = Mmdr_GetAudioInSelectOption(own_, &read);
    // Other threads store 0 to 2 as well, so any of them may be read back.
    Expect(get == MMDR_OK && read <= 2, "Mmdr_GetAudioInSelectOption", get);
  }

  void CheapCalls() {
    const MmdrResult valid = Mmdr_IsValid(own_);
    Expect(valid == MMDR_OK, "Mmdr_IsValid of the thread's own handle", valid);
    Expect(Mmdr_GetLibVersion() == MMDR_LIB_VERSION, "Mmdr_GetLibVersion",
           Mmdr_GetLibVersion());
  }

  void CheckStoredPairs(int round) {
    for (MmdrDeviceKind kind : {MMDR_DEVICE_VIDEO, MMDR_DEVICE_AUDIO}) {
      const bool video = kind == MMDR_DEVICE_VIDEO;
      const std::string id = StoredUserText(video ? L"srcWCamId" : L"srcAudioInId");
      const std::string name = StoredUserText(video ? L"srcWCamName" : L"srcAudioInName");
      if (!IsWholePair(shared_, kind, id, name)) {
        Problem("round " + std::to_string(round) + ": stored " + (video ? "webcam" : "microphone") +
                " pair torn: id '" + id + "' with name '" + name + "'");
      }
    }
    // While this thread's handle is open the DirectSound back end holds the library.
    if (shared_.expectDirectSound &&
        (DSoundLib::ReferenceCount() <= 0 ||
         kestrel_stress::ModuleLoadCount(L"dsound.dll") <= shared_.dsoundLoadCountBefore)) {
      Problem("no reference on dsound.dll while a handle is open with \"EnableAInWasapi\" 0");
    }
  }

  Shared& shared_;
  const int index_;
  std::mt19937 random_;
  MmdrHandle* own_ = nullptr;
  unsigned serial_ = 0;
};

class ConcurrencyStress : public ::testing::TestWithParam<WasapiSwitch> {};

TEST_P(ConcurrencyStress, EightThreadsOfMixedCallsLeaveNothingBehind) {
  kestrel_stress::ScopedLibraryValues libraryValues(GetParam());
  kestrel_test::WebcamFixture webcams;
  ASSERT_TRUE(kestrel_stress::AddThreeWebcams(webcams, L"Stress"));

  Shared shared;
  shared.expectDirectSound = GetParam() == WasapiSwitch::kOff;
  // Warm up on this thread and on another one, so that what the system keeps after its
  // first use (COM, audio driver threads, cached keys) is in the baseline.
  auto warmUp = [](std::vector<DeviceEntry>* video, std::vector<DeviceEntry>* audio) {
    MmdrHandle* handle = nullptr;
    ASSERT_EQ(Mmdr_Init(1, &handle), MMDR_OK);
    bool failure = false;
    *video = kestrel_stress::ListDevices(handle, MMDR_DEVICE_VIDEO, &failure);
    ASSERT_FALSE(failure);
    *audio = kestrel_stress::ListDevices(handle, MMDR_DEVICE_AUDIO, &failure);
    ASSERT_FALSE(failure);
    char text[MMDR_TEXT_FIELD_SIZE];
    Mmdr_SetPrefDev(handle, MMDR_DEVICE_AUDIO, "warm-up", "warm-up");
    Mmdr_GetPrefDev(handle, MMDR_DEVICE_AUDIO, MMDR_PREF_ID, text);
    std::uint32_t option = 0;
    Mmdr_SetAudioInSelectOption(handle, 1);
    Mmdr_GetAudioInSelectOption(handle, &option);
    Mmdr_Uninit(handle);
  };
  warmUp(&shared.video, &shared.audio);
  ASSERT_GE(shared.video.size(), 3u);
  ASSERT_FALSE(shared.audio.empty()) << "the Wine prefix provides fixture microphones";
  {
    // The system creates some things at its first concurrent use (the wait events of
    // contended locks); let eight threads make every kind of call once before counting.
    std::vector<std::thread> threads;
    std::vector<std::vector<DeviceEntry>> lists(2 * kThreads);
    for (int i = 0; i < kThreads; ++i) {
      threads.emplace_back(warmUp, &lists[2 * i], &lists[2 * i + 1]);
    }
    for (std::thread& thread : threads) thread.join();
  }
  ASSERT_EQ(DSoundLib::GetInstance(), nullptr);
  shared.dsoundLoadCountBefore = kestrel_stress::ModuleLoadCount(L"dsound.dll");

  const std::vector<std::string> handlesListedBefore = kestrel_stress::DescribeProcessHandles();
  const unsigned handlesBefore = static_cast<unsigned>(handlesListedBefore.size());
  const unsigned threadsBefore = kestrel_stress::CountProcessThreads();
  ASSERT_GT(handlesBefore, 0u);
  ASSERT_GT(threadsBefore, 0u);

  {
    // The tracing lines of every call go to the ring during the run, so that it wraps
    // many times under concurrent writers.
    kestrel_test::ScopedLibraryLogThreshold tracing(7);
    std::vector<std::thread> threads;
    std::vector<Worker> workers;
    workers.reserve(kThreads);
    for (int i = 0; i < kThreads; ++i) workers.emplace_back(shared, i);
    const DWORD start = GetTickCount();
    for (int i = 0; i < kThreads; ++i) threads.emplace_back([&workers, i] { workers[i].Run(); });
    for (std::thread& thread : threads) thread.join();
    std::printf("%d threads x %d calls in %lu ms\n", kThreads,
                kRounds * (kCallsPerRound + 2), GetTickCount() - start);
  }

  // Everything is measured before the first expectation: a failure report itself
  // (the test framework's debugger output) creates handles and a thread under Wine.
  const int problemCount = shared.problems->count();
  const std::string problemSummary = shared.problems->Summary();
  shared.barrier.reset();
  shared.problems.reset();
  // Threads end asynchronously after join returns under Wine; give them a moment.
  unsigned threadsAfter = kestrel_stress::CountProcessThreads();
  for (int wait = 0; wait < 30 && threadsAfter > threadsBefore; ++wait) {
    Sleep(100);
    threadsAfter = kestrel_stress::CountProcessThreads();
  }
  const unsigned handlesAfter = kestrel_stress::CountProcessHandles();
  std::printf("threads %u -> %u, handles %u -> %u\n%s", threadsBefore, threadsAfter,
              handlesBefore, handlesAfter,
              kestrel_stress::NewHandles(handlesListedBefore).c_str());

  EXPECT_EQ(problemCount, 0) << problemSummary;
  EXPECT_LE(threadsAfter, threadsBefore);
  // A leak in any call would show as hundreds of handles after some 16,000 calls; a few
  // may be wait events of locks that met contention for the first time in the run.
  EXPECT_LE(handlesAfter, handlesBefore + kLockEventAllowance);
  // Every handle closed: the library holds no DirectSound instance, and dsound.dll is
  // unloaded or back to the references the system's own components hold.
  EXPECT_EQ(DSoundLib::GetInstance(), nullptr);
  EXPECT_EQ(DSoundLib::ReferenceCount(), 0);
  EXPECT_EQ(kestrel_stress::ModuleLoadCount(L"dsound.dll"), shared.dsoundLoadCountBefore);

  // The pairs left stored are whole too.
  for (MmdrDeviceKind kind : {MMDR_DEVICE_VIDEO, MMDR_DEVICE_AUDIO}) {
    const bool video = kind == MMDR_DEVICE_VIDEO;
    const std::string id = StoredUserText(video ? L"srcWCamId" : L"srcAudioInId");
    const std::string name = StoredUserText(video ? L"srcWCamName" : L"srcAudioInName");
    EXPECT_TRUE(IsWholePair(shared, kind, id, name)) << id << " / " << name;
  }

  const kestrel_stress::RingWalk walk = kestrel_stress::WalkLibraryLogRing();
  EXPECT_TRUE(walk.consistent) << walk.problem;
  EXPECT_GT(walk.records, 10u) << "the tracing lines of the run should fill the ring";
  std::printf("log ring: %zu records in %llu bytes\n", walk.records,
              static_cast<unsigned long long>(walk.usedBytes));
  // Taking the records out agrees with the walk.
  EXPECT_EQ(kestrel_test::DrainLibraryLog().size(), walk.records);
}

INSTANTIATE_TEST_SUITE_P(Switch, ConcurrencyStress,
                         ::testing::Values(WasapiSwitch::kAbsent, WasapiSwitch::kOff),
                         kestrel_stress::WasapiSwitchTestName);

}  // namespace
