// Following devices on Linux through the exported calls (compiled in): a private sound
// server of this program's own (its sources loaded, unloaded, the server stopped), ALSA's
// test configuration behind it, and webcam nodes made and removed under the V4L2 fake root.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <thread>

#include "support/devices.h"
#include "support/log_capture.h"
#include "support/user_emulation.h"
#include "support/webcam_fixture_linux.h"

namespace kestrel_test {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

const std::string kServerDir =
    fs::temp_directory_path() / ("kestrel-watch-" + std::to_string(getpid()));

// start, stop; add NAME=DESCRIPTION, remove NAME: a source comes or goes.
void Server(const std::string& command, const std::string& source = "'usbmic=USB Mic'") {
  ASSERT_EQ(std::system((KESTREL_SOUND_SERVER " " + command + " " + kServerDir + " " + source +
                         " >/dev/null")
                            .c_str()),
            0);
}

std::uint32_t Watch(MmdrHandle* handle, std::uint32_t kinds, std::uint32_t timeoutMs) {
  std::uint32_t changed = 99;
  EXPECT_EQ(Mmdr_WatchDevices(handle, kinds, timeoutMs, &changed), MMDR_OK);
  return changed;
}

bool Ready(MmdrHandle* handle, int timeoutMs) {
  std::intptr_t fd = -1;
  EXPECT_EQ(Mmdr_GetWatchDescriptor(handle, &fd), MMDR_OK);
  pollfd entry{static_cast<int>(fd), POLLIN, 0};
  return poll(&entry, 1, timeoutMs) == 1;
}

class Following : public testing::Test {
 protected:
  static bool Emulated() { return std::getenv("KESTREL_USER_EMULATION") != nullptr; }
  void SetUp() override {
    KESTREL_SKIP_UNDER_USER_EMULATION("runs the sound server's script and pactl, which fork");
  }
  static void SetUpTestSuite() {
    if (Emulated()) return;
    Server("start");
    setenv("PULSE_SERVER", ("unix:" + kServerDir + "/native").c_str(), 1);
    setenv("HOME", kServerDir.c_str(), 1);  // libpulse's cookie
    const std::string alsa = kServerDir + "/alsa.conf";
    std::ofstream(alsa) << "pcm.deskmic { type null hint.description \"Desk Mic\" }\n";
    setenv("ALSA_CONFIG_PATH", alsa.c_str(), 1);
  }
  static void TearDownTestSuite() {
    if (!Emulated()) Server("stop");
  }
};

TEST_F(Following, ArgumentsAreCheckedInTheDocumentedOrder) {
  ScopedMmdrHandle handle;
  std::uint32_t changed = 0;
  std::intptr_t fd = 0;
  const struct {
    MmdrHandle* handle;
    std::uint32_t kinds;
    std::uint32_t* out;
    MmdrResult watch, descriptor;
  } cases[] = {
      {nullptr, 0, nullptr, MMDR_INVALID_HANDLE, MMDR_INVALID_HANDLE},
      {handle.get(), 0, nullptr, MMDR_NO_DATA, MMDR_NO_DATA},
      {handle.get(), 0, &changed, MMDR_INVALID_ARGUMENT, MMDR_OK},
      {handle.get(), 4, &changed, MMDR_INVALID_ARGUMENT, MMDR_OK},
      {handle.get(), MMDR_WATCH_ALL | 8, &changed, MMDR_INVALID_ARGUMENT, MMDR_OK},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(&c - cases);
    EXPECT_EQ(Mmdr_WatchDevices(c.handle, c.kinds, 0, c.out), c.watch);
    EXPECT_EQ(Mmdr_GetWatchDescriptor(c.handle, c.out != nullptr ? &fd : nullptr), c.descriptor);
  }
  // The host's children inherit nothing: neither the descriptor nor what a watch opens.
  EXPECT_EQ(fcntl(static_cast<int>(fd), F_GETFD) & FD_CLOEXEC, FD_CLOEXEC);
  const auto descriptors = [] {  // each open descriptor, with what it is open on
    std::map<int, fs::path> found;
    std::error_code gone;
    for (const auto& entry : fs::directory_iterator("/proc/self/fd"))
      found[std::stoi(entry.path().filename())] = fs::read_symlink(entry, gone);
    return found;
  };
  const auto before = descriptors();
  EXPECT_EQ(Watch(handle.get(), MMDR_WATCH_ALL, 0), 0U);
  for (const auto& [opened, what] : descriptors()) {
    // libpulse takes in pipewire-pulse's shared memory without close-on-exec, out of reach.
    const bool libpulses = what == "/memfd:pulseaudio (deleted)" && getenv("SOUND_SERVER") &&
                           std::string(getenv("SOUND_SERVER")) == "pipewire";
    if ((before.count(opened) == 0 || before.at(opened) != what) && !libpulses) {
      EXPECT_EQ(fcntl(opened, F_GETFD) & FD_CLOEXEC, FD_CLOEXEC) << what;
    }
  }
}

TEST_F(Following, SourcesThatComeAndGoAreReportedToEachHandleOnce) {
  const WebcamFixture webcams({});
  ScopedMmdrHandle first, second;
  EXPECT_EQ(Enumerate(first.get(), MMDR_DEVICE_AUDIO), (std::vector<Entry>{{"usbmic", "USB Mic"}}));
  // Each handle's first watch: the second's first sight, and both connections settle.
  for (MmdrHandle* handle : {first.get(), second.get()}) {
    EXPECT_EQ(Watch(handle, MMDR_WATCH_ALL, 500), 0U);
  }
  const ScopedLogThreshold debug;
  const auto start = Clock::now();
  EXPECT_EQ(Watch(first.get(), MMDR_WATCH_ALL, 300), 0U);
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(300));
  EXPECT_FALSE(Ready(second.get(), 300));
  // Waiting cost no listing (the export's and the watch's listings log at debug).
  const std::string lines = debug.Lines();
  for (const char* listing : {"EnumDevices", "listed again"}) {
    EXPECT_EQ(lines.find(listing), std::string::npos) << lines;
  }

  Server("add", "plug=Plug");
  EXPECT_EQ(Watch(first.get(), MMDR_WATCH_ALL, 5000), std::uint32_t{MMDR_WATCH_AUDIO});
  // An event loop's way: woken by the news, and again once it has settled.
  EXPECT_TRUE(Ready(second.get(), 5000));
  EXPECT_EQ(Watch(second.get(), MMDR_WATCH_ALL, 0), 0U) << "still settling";
  EXPECT_TRUE(Ready(second.get(), 5000));
  EXPECT_EQ(Watch(second.get(), MMDR_WATCH_ALL, 0), std::uint32_t{MMDR_WATCH_AUDIO});
  EXPECT_FALSE(Ready(second.get(), 0)) << "at rest after its report";
  EXPECT_EQ(Watch(second.get(), MMDR_WATCH_ALL, 0), 0U) << "reported once";
  EXPECT_EQ(Enumerate(first.get(), MMDR_DEVICE_AUDIO),
            (std::vector<Entry>{{"usbmic", "USB Mic"}, {"plug", "Plug"}}));

  Server("remove", "plug");
  Server("add", "brief=Brief");
  Server("remove", "brief");
  // The plug is gone since the first handle listed; the brief source came and went.
  EXPECT_EQ(Watch(first.get(), MMDR_WATCH_AUDIO, 5000), std::uint32_t{MMDR_WATCH_AUDIO});
  EXPECT_EQ(Watch(second.get(), MMDR_WATCH_AUDIO, 5000), std::uint32_t{MMDR_WATCH_AUDIO});
  Server("add", "brief=Brief");
  Server("remove", "brief");
  EXPECT_EQ(Watch(first.get(), MMDR_WATCH_AUDIO, 1000), 0U) << "nothing differs";
  EXPECT_FALSE(Ready(first.get(), 0)) << "and the descriptor is at rest";
  // The same id under another name is a change; the same sources in another order are not.
  Server("add", "brief=Brief");
  EXPECT_EQ(Watch(first.get(), MMDR_WATCH_AUDIO, 5000), std::uint32_t{MMDR_WATCH_AUDIO});
  Server("remove", "brief");
  Server("add", "brief=Renamed");
  EXPECT_EQ(Watch(first.get(), MMDR_WATCH_AUDIO, 5000), std::uint32_t{MMDR_WATCH_AUDIO});
  Server("add", "zz=Zz");
  EXPECT_EQ(Watch(first.get(), MMDR_WATCH_AUDIO, 5000), std::uint32_t{MMDR_WATCH_AUDIO});
  Server("remove", "brief");
  Server("remove", "zz");
  Server("add", "zz=Zz");
  Server("add", "brief=Renamed");
  EXPECT_EQ(Watch(first.get(), MMDR_WATCH_AUDIO, 1000), 0U);
}

TEST_F(Following, AWebcamNodeIsReportedForVideoOnly) {
  V4l2Node camera{"video3", "Cam"};
  camera.byId = {"usb-Cam"};
  const FakeV4l2 fake({camera});
  const fs::path sys = fake.root() + "/sys/class/video4linux/video3";
  const fs::path dev = fake.root() + "/dev/video3", link = fake.root() + "/dev/v4l/by-id/usb-Cam";
  const auto plug = [&] { fs::create_directories(sys), std::ofstream(dev).flush(); };
  const auto pull = [&] { fs::remove(dev), fs::remove_all(sys); };
  pull(), fs::remove(link);
  ScopedMmdrHandle handle;
  EXPECT_EQ(Enumerate(handle.get(), MMDR_DEVICE_VIDEO), std::vector<Entry>{});
  // Plugged after the listing, before the first watch: not missed.
  plug();
  fs::create_symlink("../../video3", link);  // udev's link follows the node
  EXPECT_EQ(Watch(handle.get(), MMDR_WATCH_ALL, 5000), std::uint32_t{MMDR_WATCH_VIDEO});
  EXPECT_EQ(Enumerate(handle.get(), MMDR_DEVICE_VIDEO),
            (std::vector<Entry>{{"/dev/v4l/by-id/usb-Cam", "Cam"}}));
  // Pulled (the node is news before udev removes its link) as a microphone came: the
  // microphone waits for a watch that asks for it.
  Server("add", "plug=Plug");
  pull();
  EXPECT_EQ(Watch(handle.get(), MMDR_WATCH_VIDEO, 5000), std::uint32_t{MMDR_WATCH_VIDEO});
  fs::remove_all(link.parent_path().parent_path());  // udev removes /dev/v4l with the last
  EXPECT_EQ(Watch(handle.get(), MMDR_WATCH_AUDIO, 5000), std::uint32_t{MMDR_WATCH_AUDIO});
  Server("remove", "plug");
  // Plugged and pulled inside the settling time while a watch waits: the set is the same.
  std::thread briefly([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    plug();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    pull();
  });
  const auto start = Clock::now();
  EXPECT_EQ(Watch(handle.get(), MMDR_WATCH_VIDEO, 1500), 0U);
  EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(2500)) << "ends at its time";
  briefly.join();
  // Another node is no reason to list; a webcam's node plugged while followed is reported,
  // its event read after another's.
  const ScopedLogThreshold debug;
  std::ofstream(fake.root() + "/dev/tty5").flush();
  EXPECT_EQ(Watch(handle.get(), MMDR_WATCH_VIDEO, 300), 0U);
  EXPECT_EQ(debug.Lines().find("listed again"), std::string::npos);
  std::ofstream(fake.root() + "/dev/tty6").flush();
  plug();
  EXPECT_EQ(Watch(handle.get(), MMDR_WATCH_VIDEO, 5000), std::uint32_t{MMDR_WATCH_VIDEO});
  // Its link comes later, in folders made while followed: the same node under a new id.
  fs::create_directories(link.parent_path());
  EXPECT_EQ(Watch(handle.get(), MMDR_WATCH_VIDEO, 500), 0U);
  fs::create_symlink("../../video3", link);
  EXPECT_EQ(Watch(handle.get(), MMDR_WATCH_VIDEO, 5000), std::uint32_t{MMDR_WATCH_VIDEO});
}

TEST_F(Following, APipeWireCameraComingOrGoingIsReported) {
  const WebcamFixture webcams({});
  const ScopedPipeWire daemon(kServerDir + "-pw");
  ASSERT_TRUE(daemon.Run("start", "'camera:cam=Cam'"));
  ScopedMmdrHandle handle;
  EXPECT_EQ(Enumerate(handle.get(), MMDR_DEVICE_VIDEO),
            (std::vector<Entry>{{"pipewire:libcamera_input.cam", "Cam"}}));
  const auto change = [&](const std::string& command, const std::string& item) {
    EXPECT_EQ(Watch(handle.get(), MMDR_WATCH_VIDEO, 500), 0U);  // followed, and settled
    ASSERT_TRUE(daemon.Run(command, item));
    EXPECT_EQ(Watch(handle.get(), MMDR_WATCH_VIDEO, 5000), std::uint32_t{MMDR_WATCH_VIDEO});
  };
  change("add", "'camera:added=Added'");
  // Neither a microphone coming nor another file beside the socket is a webcam's news, even
  // after a camera's: no listing.
  const ScopedLogThreshold debug;
  ASSERT_TRUE(daemon.Run("add", "mic=Mic"));
  std::ofstream(kServerDir + "-pw/runtime/other").flush();
  change("remove", "camera:added");
  const std::string lines = debug.Lines();
  EXPECT_EQ(lines.find("listed again"), lines.rfind("listed again")) << "once: " << lines;
  // Killed, it leaves its socket behind; started again, it makes a new one.
  ASSERT_EQ(std::system(("kill -KILL $(head -n 1 " + kServerDir + "-pw/pids)").c_str()), 0);
  EXPECT_EQ(Watch(handle.get(), MMDR_WATCH_VIDEO, 5000), std::uint32_t{MMDR_WATCH_VIDEO});
  EXPECT_EQ(Enumerate(handle.get(), MMDR_DEVICE_VIDEO), std::vector<Entry>{});
  ASSERT_TRUE(daemon.Run("start", "'camera:cam=Cam'"));
  EXPECT_EQ(Watch(handle.get(), MMDR_WATCH_VIDEO, 5000), std::uint32_t{MMDR_WATCH_VIDEO});
  change("add", "'camera:again=Again'");  // followed again
}

TEST_F(Following, TheServerGoneAndBackIsAChange) {
  ScopedMmdrHandle handle;
  EXPECT_EQ(Watch(handle.get(), MMDR_WATCH_AUDIO, 500), 0U);  // followed, and settled
  // Killed: it takes leave of no client, and its sources end with it.
  ASSERT_EQ(std::system(("kill -KILL $(cat " + kServerDir + "/pid)").c_str()), 0);
  EXPECT_EQ(Watch(handle.get(), MMDR_WATCH_AUDIO, 5000), std::uint32_t{MMDR_WATCH_AUDIO});
  EXPECT_EQ(Enumerate(handle.get(), MMDR_DEVICE_AUDIO),
            (std::vector<Entry>{{"deskmic", "Desk Mic"}}));  // ALSA's
  Server("start");
  EXPECT_EQ(Watch(handle.get(), MMDR_WATCH_AUDIO, 5000), std::uint32_t{MMDR_WATCH_AUDIO});
}

TEST_F(Following, UninitEndsAWaitAndCyclesLeaveNothingBehind) {
  KESTREL_SKIP_UNDER_USER_EMULATION("needs a second thread");
  const auto fds = EntriesIn("/proc/self/fd"), threads = EntriesIn("/proc/self/task");
  for (int cycle = 0; cycle < 200; ++cycle) {
    MmdrHandle* handle = nullptr;
    ASSERT_EQ(Mmdr_Init(MMDR_MODE_1, &handle), MMDR_OK);
    EXPECT_FALSE(Ready(handle, 0));
    // The sound server's connection (tens of ms to set up and end) in every tenth.
    EXPECT_EQ(Watch(handle, cycle % 10 == 0 ? MMDR_WATCH_ALL : MMDR_WATCH_VIDEO, 0), 0U);
    Mmdr_Uninit(handle);
  }
  EXPECT_EQ(EntriesIn("/proc/self/fd"), fds);
  EXPECT_EQ(EntriesIn("/proc/self/task"), threads);

  MmdrHandle* handle = nullptr;
  ASSERT_EQ(Mmdr_Init(MMDR_MODE_1, &handle), MMDR_OK);
  std::uint32_t changed = 99;
  std::thread waiter([&] {
    EXPECT_EQ(Mmdr_WatchDevices(handle, MMDR_WATCH_ALL, 60000, &changed), MMDR_INVALID_HANDLE);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  const auto closed = Clock::now();
  Mmdr_Uninit(handle);
  waiter.join();
  EXPECT_LT(Clock::now() - closed, std::chrono::seconds(5));  // not the minute
  EXPECT_EQ(changed, 0U);
  EXPECT_EQ(EntriesIn("/proc/self/fd"), fds);
}

}  // namespace
}  // namespace kestrel_test
