// The V4L2 webcam enumerator over a fake root (udev's relative links, sysfs names) with
// stand-in calls that answer VIDIOC_QUERYCAP from a table; then the real system calls.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/videodev2.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "devices/v4l2_system_linux.h"
#include "devices/video_input.h"
#include "kestrelCliLib.h"

namespace {

namespace fs = std::filesystem;

struct Node {
  std::string node;  // "video10": sys/class/video4linux/<node>, and dev/<node> when it opens
  std::string card;  // copied as a driver does: 32 bytes at most, no NUL when it fills them
  std::uint32_t caps = V4L2_CAP_VIDEO_CAPTURE;
  std::uint32_t deviceCaps = 0;
  std::vector<std::string> byId, byPath;  // names of links to ../../<node>
  std::string sysName;
  bool opens = true;
};
std::vector<Node> g_nodes;
std::string g_root;
int g_open = 0;  // descriptors open now
bool g_interrupt = false;

bool Interrupted() {  // every other call fails with EINTR: the caller must repeat it
  g_interrupt = !g_interrupt;
  if (g_interrupt) errno = EINTR;
  return g_interrupt;
}
int Open(const char* path, int flags) {
  EXPECT_EQ(flags, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  const auto n = std::find_if(g_nodes.begin(), g_nodes.end(),
                              [&](const Node& row) { return g_root + "/dev/" + row.node == path; });
  if (Interrupted()) return -1;
  errno = ENOENT;
  if (n == g_nodes.end() || !n->opens) return -1;
  ++g_open;
  return 1000 + static_cast<int>(n - g_nodes.begin());
}
int Ioctl(int fd, unsigned long request, void* argument) {
  EXPECT_EQ(request, VIDIOC_QUERYCAP);
  if (Interrupted()) return -1;
  const Node& n = g_nodes.at(fd - 1000);
  auto& answer = *static_cast<v4l2_capability*>(argument);
  answer = v4l2_capability{};
  std::memcpy(answer.card, n.card.data(), std::min(n.card.size(), sizeof answer.card));
  std::memcpy(answer.bus_info, "usb-1", 5);  // reading on past a full card shows this
  answer.capabilities = n.caps;
  answer.device_caps = n.deviceCaps;
  return 0;
}
int Close(int /*fd*/) {
  --g_open;
  return 0;
}

constexpr std::uint32_t kCapture = V4L2_CAP_VIDEO_CAPTURE;
constexpr std::uint32_t kCaptureMp = V4L2_CAP_VIDEO_CAPTURE_MPLANE;
constexpr std::uint32_t kOwn = V4L2_CAP_DEVICE_CAPS;  // device_caps describes the node

TEST(V4l2, ListsCaptureNodes) {
  g_nodes = {
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
  };
  g_root = fs::temp_directory_path() / "kestrel-v4l2-XXXXXX";
  ASSERT_NE(mkdtemp(g_root.data()), nullptr);
  const fs::path dev = g_root + "/dev/v4l", sys = g_root + "/sys/class/video4linux";
  for (const char* folder : {"by-id", "by-path"}) fs::create_directories(dev / folder);
  for (const Node& n : g_nodes) {
    fs::create_directories(sys / n.node);
    std::ofstream(sys / n.node / "name") << n.sysName << '\n';
    if (n.opens) std::ofstream(g_root + "/dev/" + n.node).flush();  // only video9's link dangles
    for (const auto& [folder, links] : {std::pair{"by-id", n.byId}, {"by-path", n.byPath}}) {
      for (const auto& link : links) fs::create_symlink("../../" + n.node, dev / folder / link);
    }
  }
  const V4l2System fake{&Open, &Ioctl, &Close, g_root.c_str()};
  SetV4l2SystemForTesting(&fake);
  DeviceInfoList list(1);  // what the caller had stays, and numbering starts afresh
  EXPECT_TRUE(VideoInput::EnumDevices(list));
  SetV4l2SystemForTesting(nullptr);
  fs::remove_all(g_root);

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
  EXPECT_EQ(g_open, 0);
}

TEST(V4l2, NoWebcamOnThisMachine) {
  MmdrHandle* handle = nullptr;
  ASSERT_EQ(Mmdr_Init(MMDR_MODE_1, &handle), MMDR_OK);
  std::uint32_t count = 77;
  EXPECT_EQ(Mmdr_EnumDevices(handle, MMDR_DEVICE_VIDEO, 0, nullptr, &count), MMDR_OK);
  EXPECT_EQ(count, 0u);
  Mmdr_Uninit(handle);
}

}  // namespace
