// The V4L2 webcam enumerator over a fake root (udev's relative links, sysfs names) with
// stand-in calls that answer VIDIOC_QUERYCAP from a table; then the real system calls.
#include <gtest/gtest.h>

#include <filesystem>

#include "devices/video_input.h"
#include "kestrelCliLib.h"
#include "support/log_capture.h"
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
  const auto openFiles = [] {
    return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {});
  };
  const auto filesBefore = openFiles();
  const ScopedLogThreshold debug;
  EXPECT_TRUE(VideoInput::EnumDevices(list));
  EXPECT_EQ(openFiles(), filesBefore) << "the sysfs names and udev's folders are closed again";
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

}  // namespace
}  // namespace kestrel_test
