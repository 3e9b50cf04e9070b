// The V4L2 enumerator's seam for one scope: a temporary root holding the nodes given (sysfs
// entries with their names, device files for the nodes that open, udev's relative links),
// and stand-in calls that answer VIDIOC_QUERYCAP from the same table. Every other call
// fails with EINTR first, which the caller must repeat.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/videodev2.h>
#include <stdlib.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "devices/v4l2_system_linux.h"

namespace kestrel_test {

struct V4l2Node {
  std::string node;  // "video10": sys/class/video4linux/<node>, and dev/<node> when it opens
  std::string card;  // copied as a driver does: 32 bytes at most, no NUL when it fills them
  std::uint32_t caps = V4L2_CAP_VIDEO_CAPTURE;
  std::uint32_t deviceCaps = 0;
  std::vector<std::string> byId, byPath;  // names of links to ../../<node>
  std::string sysName;
  bool opens = true;
};

class FakeV4l2 {
 public:
  explicit FakeV4l2(std::vector<V4l2Node> nodes) : nodes_(std::move(nodes)) {
    namespace fs = std::filesystem;
    EXPECT_NE(mkdtemp(root_.data()), nullptr);
    const fs::path dev = root_ + "/dev/v4l", sys = root_ + "/sys/class/video4linux";
    for (const char* folder : {"by-id", "by-path"}) fs::create_directories(dev / folder);
    for (const V4l2Node& n : nodes_) {
      fs::create_directories(sys / n.node);
      std::ofstream(sys / n.node / "name") << n.sysName << '\n';
      if (n.opens) std::ofstream(root_ + "/dev/" + n.node).flush();  // else its links dangle
      for (const auto& [folder, links] : {std::pair{"by-id", n.byId}, {"by-path", n.byPath}}) {
        for (const auto& link : links) fs::create_symlink("../../" + n.node, dev / folder / link);
      }
    }
    current_ = this;
    SetV4l2SystemForTesting(&system_);
  }
  ~FakeV4l2() {
    SetV4l2SystemForTesting(nullptr);
    current_ = nullptr;
    std::filesystem::remove_all(root_);
  }
  FakeV4l2(const FakeV4l2&) = delete;
  FakeV4l2& operator=(const FakeV4l2&) = delete;

  int descriptorsOpen() const { return open_; }
  const std::string& root() const { return root_; }

 private:
  static bool Interrupted() {
    current_->interrupt_ = !current_->interrupt_;
    if (current_->interrupt_) errno = EINTR;
    return current_->interrupt_;
  }
  static int Open(const char* path, int flags) {
    EXPECT_EQ(flags, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    const auto& nodes = current_->nodes_;
    const auto n = std::find_if(nodes.begin(), nodes.end(), [&](const V4l2Node& row) {
      return current_->root_ + "/dev/" + row.node == path;
    });
    if (Interrupted()) return -1;
    errno = ENOENT;
    if (n == nodes.end() || !n->opens) return -1;
    ++current_->open_;
    return 1000 + static_cast<int>(n - nodes.begin());
  }
  static int Ioctl(int fd, unsigned long request, void* argument) {
    EXPECT_EQ(request, VIDIOC_QUERYCAP);
    if (Interrupted()) return -1;
    const V4l2Node& n = current_->nodes_.at(fd - 1000);
    auto& answer = *static_cast<v4l2_capability*>(argument);
    answer = v4l2_capability{};
    std::memcpy(answer.card, n.card.data(), std::min(n.card.size(), sizeof answer.card));
    std::memcpy(answer.bus_info, "usb-1", 5);  // reading on past a full card shows this
    answer.capabilities = n.caps;
    answer.device_caps = n.deviceCaps;
    return 0;
  }
  static int Close(int /*fd*/) { return --current_->open_, 0; }

  static inline FakeV4l2* current_ = nullptr;
  std::string root_ = std::filesystem::temp_directory_path() / "kestrel-v4l2-XXXXXX";
  std::vector<V4l2Node> nodes_;
  int open_ = 0;  // descriptors open now
  bool interrupt_ = false;
  const V4l2System system_{&Open, &Ioctl, &Close, root_.c_str()};  // after root_
};

struct Webcam {
  std::optional<std::string> name;  // the card
  std::optional<std::string> path;  // a by-id link's name
};

// The Nth webcam is the capture node videoN.
class WebcamFixture : public FakeV4l2 {
 public:
  explicit WebcamFixture(const std::vector<Webcam>& webcams) : FakeV4l2(Nodes(webcams)) {}

  static std::string Id(const std::string& path) { return "/dev/v4l/by-id/" + path; }

 private:
  static std::vector<V4l2Node> Nodes(const std::vector<Webcam>& webcams) {
    std::vector<V4l2Node> nodes;
    for (const Webcam& webcam : webcams) {
      nodes.push_back({"video" + std::to_string(nodes.size()), webcam.name.value_or("")});
      if (webcam.path) nodes.back().byId = {*webcam.path};
    }
    return nodes;
  }
};

#ifdef KESTREL_SOUND_SERVER
// A private PipeWire daemon in dir (scripts/sound-server.sh) at PIPEWIRE_REMOTE while the
// scope lasts; stopped, with every process it started, and removed however it ends.
class ScopedPipeWire {
 public:
  explicit ScopedPipeWire(std::string dir) : dir_(std::move(dir)) {
    setenv("PIPEWIRE_REMOTE", (dir_ + "/runtime/pipewire-0").c_str(), 1);
  }
  ~ScopedPipeWire() {
    unsetenv("PIPEWIRE_REMOTE");
    std::ifstream listed(dir_ + "/pids");
    const std::vector<int> pids{std::istream_iterator<int>(listed), {}};
    EXPECT_TRUE(Run("stop"));
    for (const int pid : pids) {  // ended (a zombie has) or gone
      std::string status;
      std::getline(std::ifstream("/proc/" + std::to_string(pid) + "/stat"), status);
      EXPECT_TRUE(status.empty() || status.substr(status.rfind(") ") + 2, 1) == "Z") << status;
    }
    std::filesystem::remove_all(dir_);
  }
  ScopedPipeWire(const ScopedPipeWire&) = delete;
  ScopedPipeWire& operator=(const ScopedPipeWire&) = delete;
  // The script's command on this daemon: start (again) with the cameras given, add or remove
  // a camera or microphone. False when it failed.
  bool Run(const std::string& command, const std::string& items = "") const {
    return std::system(("SOUND_SERVER=pipewire " KESTREL_SOUND_SERVER " " + command + " " + dir_ +
                        " " + items + " >/dev/null")
                           .c_str()) == 0;
  }
  std::string Socket() const { return dir_ + "/runtime/pipewire-0"; }

 private:
  std::string dir_;
};
#endif

}  // namespace kestrel_test
