// The V4L2 webcam enumerator over a fake root (udev's relative links, sysfs names) with
// stand-in calls that answer VIDIOC_QUERYCAP from a table; then the real system calls; then
// the cameras a private PipeWire daemon shows beside the fake root's.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <tuple>

#include "devices/video_input.h"
#include "kestrelCliLib.h"
#include "support/devices.h"
#include "support/log_capture.h"
#include "support/settings_scope.h"
#include "support/user_emulation.h"
#include "support/webcam_fixture_linux.h"

namespace kestrel_test {
namespace {

constexpr std::uint32_t kCapture = V4L2_CAP_VIDEO_CAPTURE;
constexpr std::uint32_t kCaptureMp = V4L2_CAP_VIDEO_CAPTURE_MPLANE;
constexpr std::uint32_t kOwn = V4L2_CAP_DEVICE_CAPS;  // device_caps describes the node

TEST(V4l2, ListsCaptureNodes) {
  FakeV4l2 fake({
      // node, card, capabilities, device_caps, by-id links, by-path links, sysfs name, opens
      {"video10", "Desk Cam", kCapture | kOwn, kCapture, {"usb-Desk-0", "usb-B-0"}, {"pci-1-0"}},
      {"video11", "Desk Cam", kCapture | kOwn, V4L2_CAP_META_CAPTURE, {"usb-Desk-1"}},
      {"video2", "", kCaptureMp | kOwn, kCaptureMp, {}, {"platform-isp-0"}, "ISP Cam"},
      {"video3", "Codec", kCapture | V4L2_CAP_VIDEO_M2M},
      {"video4", "Codec", kCaptureMp | V4L2_CAP_VIDEO_M2M_MPLANE},
      {"video5", "Loopback", kCapture | V4L2_CAP_VIDEO_OUTPUT},
      {"video6", "Loopback", kCaptureMp | V4L2_CAP_VIDEO_OUTPUT_MPLANE},
      {"video7", "Old Cam", kCapture, V4L2_CAP_VIDEO_OUTPUT, {}, {"pci-1-1"}},
      {"video8", "Kamera vorne, Bildschirm 4K+ € ok", kCapture},  // 32 bytes end after the €
      {"video12", "Caméra frontale, 1080p à 30 €/s", kCapture},   // and inside this one
      {"video9", "Gone", kCapture, 0, {"usb-A-0"}, {}, "", false},
      {"video1x", "Not a node", kCapture},
  });
  DeviceInfoList list(1);  // what the caller had stays, and numbering starts afresh
  const auto filesBefore = EntriesIn("/proc/self/fd");
  const ScopedLogThreshold debug;
  EXPECT_TRUE(VideoInput::EnumDevices(list));
  EXPECT_EQ(EntriesIn("/proc/self/fd"), filesBefore)
      << "the sysfs names and udev's folders are closed again";
  ExpectLogged(debug.Lines(),
               "video11: not listed, not a video capture node|video3: not listed, it outputs|"
               "video9: not listed, it cannot be opened|video1x: not listed, not a video node|"
               "video10: listed, 'Desk Cam' as '/dev/v4l/by-id/usb-B-0'|"
               "trivia devices: VideoInputLinux::EnumDevices - ");

  std::vector<std::pair<std::wstring, std::wstring>> seen;
  for (auto device = list.begin() + 1; device < list.end(); ++device) {
    const auto number = static_cast<std::uint32_t>(seen.size());
    EXPECT_TRUE(device->number == number && device->index == number && device->kind == 2 &&
                device->path == device->id && device->guid.empty());
    seen.emplace_back(device->name, device->id);
  }
  const decltype(seen) expected = {
      {L"ISP Cam", L"/dev/v4l/by-path/platform-isp-0"},
      {L"Old Cam", L"/dev/v4l/by-path/pci-1-1"},
      {L"Kamera vorne, Bildschirm 4K+ €", L"/dev/video8"},
      {L"Desk Cam", L"/dev/v4l/by-id/usb-B-0"},
      {L"Caméra frontale, 1080p à 30 ", L"/dev/video12"},
  };
  EXPECT_EQ(seen, expected);
  EXPECT_EQ(fake.descriptorsOpen(), 0);
}

TEST(V4l2, NoWebcamOnThisMachine) {
  MmdrHandle* handle = nullptr;
  ASSERT_EQ(Mmdr_Init(MMDR_MODE_1, &handle), MMDR_OK);
  std::uint32_t count = 77;
  EXPECT_EQ(Mmdr_EnumDevices(handle, MMDR_DEVICE_VIDEO, 0, nullptr, &count), MMDR_OK);
  EXPECT_EQ(count, 0u);
  Mmdr_Uninit(handle);
}

// A private PipeWire daemon (scripts/sound-server.sh) with a libcamera camera of its own, the
// libcamera and the V4L2 node of the fake root's USB webcam, and a libcamera camera naming
// the webcam's device number (its node here /dev/null's): the webcam is listed once.
TEST(PipeWire, TheCamerasOnlyPipeWireShowsAreListedAfterV4l2s) {
  KESTREL_SKIP_UNDER_USER_EMULATION("starts a daemon, and libpipewire runs a thread of its own");
  namespace fs = std::filesystem;
  const std::string dir = fs::temp_directory_path() / ("kestrel-pw-" + std::to_string(getpid()));
  const std::string longName = "Caméra « arrière » " + std::string(300, 'x');
  const ScopedPipeWire daemon(dir);
  struct stat null {};
  ASSERT_EQ(stat("/dev/null", &null), 0);
  ASSERT_TRUE(daemon.Run("start", "'camera:/base/i2c@1a=" + longName +
                                      "' 'camera:usb-1-1:1.0-0C45:6366=Desk Cam (libcamera)' "
                                      "'v4l2:usb-1=Desk Cam (PipeWire)=/dev/video0' "
                                      "'camera:/base/i2c@36=Desk Cam (devids)=[ 1 " +
                                      std::to_string(null.st_rdev) + " ]'"));
  const FakeV4l2 fake({{"video0", "Desk Cam", V4L2_CAP_VIDEO_CAPTURE, 0, {"usb-Desk"}}});
  fs::remove(fake.root() + "/dev/video0");
  fs::create_symlink("/dev/null", fake.root() + "/dev/video0");
  const fs::path sys = fake.root() + "/sys/class/video4linux/video0";
  fs::create_directories(sys / "device");  // the USB interface, in the USB device's folder
  std::ofstream(sys / "idVendor") << "0c45\n";
  std::ofstream(sys / "idProduct") << "6366\n";
  const int silent = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);  // accepts, never answers
  sockaddr_un address = {AF_UNIX, {}};
  (dir + "/silent").copy(address.sun_path, sizeof address.sun_path - 1);
  ASSERT_EQ(bind(silent, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  listen(silent, 4);
  const Entry desk = {"/dev/v4l/by-id/usb-Desk", "Desk Cam"};
  const Entry camera = {"pipewire:libcamera_input._base_i2c_1a", longName.substr(0, 259)};
  const struct {
    std::string remote, before;  // PIPEWIRE_REMOTE, and what happens before the listing
    std::vector<Entry> listed;
    std::string logged;
  } cases[] = {
      {"pipewire-0",  // in PIPEWIRE_RUNTIME_DIR
       "",
       {desk, camera},
       "'v4l2_input.usb-1' ('Desk Cam (PipeWire)', Video/Source, v4l2): not listed, a V4L2|"
       "Desk Cam (libcamera)', Video/Source, libcamera): not listed, a USB camera|"
       "(devids)', Video/Source, libcamera): not listed, its device.devids name a node V4L2|"
       "'libcamera_input._base_i2c_1a' ('Caméra « arrière » xxx|speakers' ('Speakers', "
       "Audio/Sink, no device.api): not listed, not a video source"},
      {dir + "/none", "", {desk}, "no PipeWire socket at '" + dir + "/none'"},
      {dir + "/silent", "", {desk}, "no answer from the PipeWire daemon in time"},
      // Refused, or taken and then ended (EPIPE), as the kill has gone further or not.
      {daemon.Socket(), "kill -KILL $(head -n 1 " + dir + "/pids)", {desk}, "PipeWire daemon"},
  };
  const SettingsScope settings;
  ScopedMmdrHandle handle;
  setenv("PIPEWIRE_RUNTIME_DIR", (dir + "/runtime").c_str(), 1);
  for (const auto& c : cases) {
    SCOPED_TRACE(&c - cases);
    setenv("PIPEWIRE_REMOTE", c.remote.c_str(), 1);
    ASSERT_EQ(std::system(c.before.c_str()), 0);
    const auto fds = EntriesIn("/proc/self/fd"), threads = EntriesIn("/proc/self/task");
    const auto start = std::chrono::steady_clock::now();
    const ScopedLogThreshold debug;
    std::vector<MmdrDeviceEntry> entries(4);  // one listing: a silent socket is waited out once
    std::uint32_t listed = 0;
    EXPECT_EQ(Mmdr_EnumDevices(handle.get(), MMDR_DEVICE_VIDEO, 4 * MMDR_ENTRY_SIZE, entries.data(),
                               &listed),
              MMDR_OK);
    std::vector<Entry> got;
    for (std::uint32_t i = 0; i < listed; ++i) got.push_back({entries[i].id, entries[i].name});
    EXPECT_EQ(got, c.listed);
    // Within the 2 s the README promises, and a margin.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    ExpectLogged(debug.Lines(), c.logged);
    EXPECT_EQ(EntriesIn("/proc/self/fd"), fds);
    EXPECT_EQ(EntriesIn("/proc/self/task"), threads);
    if (c.listed.size() < 2) continue;
    // Preferences across both: a contained id, a name, an exact id.
    for (const auto& [id, name, preferred] : {std::tuple{"i2c_1a", "", camera.first},
                                              {"", "Desk Cam", desk.first},
                                              {camera.first.c_str(), "Desk Cam", camera.first}}) {
      SettingsScope::PutText(Store::User, "srcWCamId", id);
      SettingsScope::PutText(Store::User, "srcWCamName", name);
      EXPECT_EQ(PreferredText(handle.get(), MMDR_DEVICE_VIDEO, MMDR_PREF_ID), preferred);
    }
  }
  unsetenv("PIPEWIRE_RUNTIME_DIR");
  close(silent);
}

}  // namespace
}  // namespace kestrel_test
