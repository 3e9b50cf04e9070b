// V4L2 webcams: the capture nodes that sysfs lists, each asked for its capabilities only
// (no streaming, no format probing), named by its driver and identified by the udev link
// that stays the same across reboots where there is one; then the cameras that only
// PipeWire shows.
#include "devices/video_input.h"

#include <fcntl.h>
#include <linux/videodev2.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "core/scoped_fd_posix.h"
#include "core/utf8.h"
#include "devices/device_text.h"
#include "devices/pipewire_cameras_linux.h"
#include "devices/v4l2_system_linux.h"
#include "log/log.h"

namespace fs = std::filesystem;

namespace {

constexpr char kEnumDevicesName[] = "VideoInputLinux::EnumDevices";

int RealOpen(const char* path, int flags) { return ::open(path, flags); }
int RealIoctl(int fd, unsigned long request, void* argument) {
  return ::ioctl(fd, request, argument);
}
int RealClose(int fd) { return ::close(fd); }

constexpr V4l2System kRealSystem{&RealOpen, &RealIoctl, &RealClose, "/"};
std::atomic<const V4l2System*> g_system{&kRealSystem};

// A host may install signal handlers without SA_RESTART; a signal must not hide a webcam.
template <typename Call>
auto RetryOnEintr(Call call) {
  auto result = call();
  while (result == -1 && errno == EINTR) result = call();
  return result;
}

// "video" and a decimal number; sysfs also lists radio, vbi and swradio nodes.
bool IsVideoNode(const std::string& name) {
  constexpr std::size_t kPrefix = 5;
  return name.size() > kPrefix && name.compare(0, kPrefix, "video") == 0 &&
         name.find_first_not_of("0123456789", kPrefix) == std::string::npos;
}

// The links of one udev folder by the node path each names, resolved as the system sees
// them (a relative target against the link's folder). When several name one node, the
// first in byte order wins, so every call picks the same. A dangling link names no node
// that is listed, so it is never picked.
std::map<std::string, std::string> ReadLinks(const std::string& root, const char* folder) {
  std::vector<fs::path> names;
  std::error_code error;
  for (fs::directory_iterator it(root + folder, error), end; !error && it != end;
       it.increment(error)) {
    names.push_back(it->path().filename());
  }
  std::sort(names.begin(), names.end());
  std::map<std::string, std::string> linkByNode;
  for (const fs::path& name : names) {
    const fs::path link = fs::path(folder) / name;
    std::error_code linkError;
    const fs::path target = fs::read_symlink(root + link.string(), linkError);
    if (linkError) continue;  // not a link
    linkByNode.emplace((fs::path(folder) / target).lexically_normal().string(), link.string());
  }
  return linkByNode;
}

// The first line of a sysfs file (at most 127 bytes, no character left cut).
std::string ReadFirstLine(const fs::path& path) {
  const ScopedFd fd(RetryOnEintr([&] { return ::open(path.c_str(), O_RDONLY | O_CLOEXEC); }));
  char text[128];
  const ssize_t size =
      fd ? RetryOnEintr([&] { return ::read(fd.get(), text, sizeof text); }) : ssize_t{-1};
  if (size <= 0) return std::string();
  const auto line =
      static_cast<std::size_t>(std::find(text, text + size, '\n') - static_cast<const char*>(text));
  return std::string(text, WithoutCutCharacter(text, line));
}

// The node's sysfs name, which the driver gives every node.
std::string ReadSysfsName(const std::string& classFolder, const std::string& node) {
  return ReadFirstLine(fs::path(classFolder) / node / "name");
}

// Appends a webcam, numbered in the order of this listing.
void AppendWebcam(DeviceInfoList& list, std::uint32_t& number, const std::string& id,
                  const std::string& name) {
  DeviceInfo device;
  device.index = number;
  device.number = number;
  device.kind = 2;
  device.name = ConvertUtf8ToWide(name.c_str());
  device.path = ConvertUtf8ToWide(id.c_str());
  device.id = device.path;
  list.push_back(std::move(device));
  ++number;
}

// What tells the same camera in PipeWire's list: the node's device number, and the USB
// vendor and product ids ("vvvv:pppp") of the device it belongs to (its sysfs device is a
// USB interface, whose parent holds them), or none.
PipeWireCameras::V4l2Camera Identify(const std::string& root, const std::string& classFolder,
                                     const std::string& node) {
  PipeWireCameras::V4l2Camera camera;
  const std::string nodePath = root + "/dev/" + node;
  struct stat status {};
  if (::stat(nodePath.c_str(), &status) == 0 && S_ISCHR(status.st_mode)) {
    camera.rdev = status.st_rdev;
  }
  const fs::path usbDevice = fs::path(classFolder) / node / "device" / "..";
  const std::string vendor = ReadFirstLine(usbDevice / "idVendor");
  const std::string product = ReadFirstLine(usbDevice / "idProduct");
  if (vendor.size() == 4 && product.size() == 4) camera.usbIds = vendor + ":" + product;
  return camera;
}

// Appends the cameras that PipeWire shows and V4L2 has not listed (the nodes given, found
// in classFolder under root), each identified by its node.name behind kIdPrefix. V4L2's
// cameras are told apart by their device numbers and USB ids only when a node names some.
void AddPipeWireCameras(DeviceInfoList& list, std::uint32_t number, const std::string& root,
                        const std::string& classFolder, const std::vector<std::string>& listed) {
  std::vector<PipeWireCameras::Node> nodes;
  if (PipeWireCameras::ReadNodes(nodes) != PipeWireCameras::Listing::kListed) return;
  std::vector<PipeWireCameras::V4l2Camera> v4l2;
  if (std::any_of(nodes.begin(), nodes.end(), &PipeWireCameras::NamesV4l2Identities)) {
    for (const std::string& node : listed) {
      v4l2.push_back(Identify(root, classFolder, node));
    }
  }
  for (const PipeWireCameras::Node& node : nodes) {
    const char* whyNot = PipeWireCameras::WhyNotListed(node, v4l2);
    Log(kLogLevelTrivia, "%s - PipeWire node '%s' ('%s', %s, %s): %s%s", kEnumDevicesName,
        node.name.c_str(), node.description.c_str(), node.mediaClass.c_str(),
        node.api.empty() ? "no device.api" : node.api.c_str(),
        whyNot != nullptr ? "not listed, " : "listed", whyNot != nullptr ? whyNot : "");
    if (whyNot != nullptr) continue;
    AppendWebcam(list, number, PipeWireCameras::kIdPrefix + node.name,
                 node.description.empty() ? node.name : node.description);
  }
}

bool QueryCapabilities(const V4l2System& system, const std::string& path,
                       v4l2_capability& capability) {
  const ScopedFd fd(
      RetryOnEintr([&] { return system.open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC); }),
      system.close);
  if (!fd) {
    // Common and harmless: no access to the node, or a node that went away.
    Log(kLogLevelTrivia, "%s - %s: not listed, it cannot be opened (errno %d)", kEnumDevicesName,
        path.c_str(), errno);
    return false;
  }
  if (RetryOnEintr([&] { return system.ioctl(fd.get(), VIDIOC_QUERYCAP, &capability); }) != 0) {
    Log(kLogLevelError, "%s - VIDIOC_QUERYCAP on %s failed (errno %d)", kEnumDevicesName,
        path.c_str(), errno);
    return false;
  }
  return true;
}

// Why a node is no camera, or null for one that captures video, single- or multi-planar,
// and neither outputs nor converts: this leaves out the metadata node beside every UVC
// camera, codecs and loopback outputs.
const char* WhyNotCamera(const v4l2_capability& capability) {
  const std::uint32_t caps = (capability.capabilities & V4L2_CAP_DEVICE_CAPS) != 0
                                 ? capability.device_caps
                                 : capability.capabilities;
  constexpr std::uint32_t kCapture = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_VIDEO_CAPTURE_MPLANE;
  constexpr std::uint32_t kNotCamera = V4L2_CAP_VIDEO_OUTPUT | V4L2_CAP_VIDEO_OUTPUT_MPLANE |
                                       V4L2_CAP_VIDEO_M2M | V4L2_CAP_VIDEO_M2M_MPLANE;
  if ((caps & kCapture) == 0) return "not a video capture node";
  return (caps & kNotCamera) != 0 ? "it outputs or converts video" : nullptr;
}

}  // namespace

void SetV4l2SystemForTesting(const V4l2System* system) noexcept {
  g_system.store(system != nullptr ? system : &kRealSystem);
}

std::string V4l2Root() {
  const V4l2System& system = *g_system.load();
  std::string root = system.root != nullptr ? system.root : "";
  while (!root.empty() && root.back() == '/') root.pop_back();  // "/" becomes ""
  return root;
}

bool VideoInput::EnumDevices(DeviceInfoList& list) {
  const V4l2System& system = *g_system.load();
  const std::string root = V4l2Root();

  const std::string classFolder = root + "/sys/class/video4linux";
  std::vector<std::string> nodes;
  std::error_code error;
  for (fs::directory_iterator it(classFolder, error), end; !error && it != end;
       it.increment(error)) {
    std::string name = it->path().filename().string();
    if (IsVideoNode(name)) {
      nodes.push_back(std::move(name));
    } else {
      Log(kLogLevelTrivia, "%s - %s: not listed, not a video node", kEnumDevicesName, name.c_str());
    }
  }
  std::uint32_t number = 0;
  std::vector<std::string> listed;                      // the nodes listed
  if (error == std::errc::no_such_file_or_directory) {  // no V4L2 on this machine
    AddPipeWireCameras(list, number, root, classFolder, listed);
    return true;
  }
  if (error) {
    Log(kLogLevelError, "%s - cannot list %s (%s)", kEnumDevicesName, classFolder.c_str(),
        error.message().c_str());
    return false;
  }
  // Numeric order: a longer number is a larger one (the kernel writes no leading zeros).
  std::sort(nodes.begin(), nodes.end(), [](const std::string& a, const std::string& b) {
    return a.size() != b.size() ? a.size() < b.size() : a < b;
  });

  const std::map<std::string, std::string> byId = ReadLinks(root, "/dev/v4l/by-id");
  const std::map<std::string, std::string> byPath = ReadLinks(root, "/dev/v4l/by-path");
  for (const std::string& node : nodes) {
    const std::string nodePath = "/dev/" + node;
    v4l2_capability capability{};
    if (!QueryCapabilities(system, root + nodePath, capability)) continue;
    if (const char* whyNot = WhyNotCamera(capability)) {
      Log(kLogLevelTrivia, "%s - %s: not listed, %s (capabilities 0x%x, device 0x%x)",
          kEnumDevicesName, nodePath.c_str(), whyNot,
          static_cast<unsigned>(capability.capabilities),
          static_cast<unsigned>(capability.device_caps));
      continue;
    }
    // card is a fixed field that a long name fills without a terminating NUL.
    const auto* card = reinterpret_cast<const char*>(capability.card);
    std::string name = FixedFieldText(card, sizeof capability.card);
    if (name.empty()) name = ReadSysfsName(classFolder, node);

    const auto id = byId.find(nodePath);
    const auto port = byPath.find(nodePath);
    const std::string& path = id != byId.end()       ? id->second
                              : port != byPath.end() ? port->second
                                                     : nodePath;
    Log(kLogLevelTrivia, "%s - %s: listed, '%s' as '%s'", kEnumDevicesName, nodePath.c_str(),
        name.c_str(), path.c_str());
    AppendWebcam(list, number, path, name);
    listed.push_back(node);
  }
  AddPipeWireCameras(list, number, root, classFolder, listed);
  return true;
}
