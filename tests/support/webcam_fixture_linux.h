// Webcams for one scope through the V4L2 enumerator's seam: a temporary root whose sysfs
// lists video0, video1... in the order given, each with a by-id link for its path, and
// stand-in calls that answer VIDIOC_QUERYCAP for a capture node whose card is the name.
#pragma once

#include <gtest/gtest.h>
#include <linux/videodev2.h>
#include <stdlib.h>

#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "devices/v4l2_system_linux.h"

namespace kestrel_test {

struct Webcam {
  std::optional<std::string> name;  // the card, of which a driver copies 32 bytes at most
  std::optional<std::string> path;  // a by-id link's name
};

class WebcamFixture {
 public:
  explicit WebcamFixture(const std::vector<Webcam>& webcams)
      : root_(std::filesystem::temp_directory_path() / "kestrel-webcams-XXXXXX") {
    EXPECT_NE(mkdtemp(root_.data()), nullptr);
    const std::string byId = root_ + "/dev/v4l/by-id/";
    std::filesystem::create_directories(byId);
    for (std::size_t i = 0; i < webcams.size(); ++i) {
      const std::string node = "video" + std::to_string(i);
      std::filesystem::create_directories(root_ + "/sys/class/video4linux/" + node);
      if (webcams[i].path)
        std::filesystem::create_symlink("../../" + node, byId + *webcams[i].path);
      cards_.push_back(webcams[i].name.value_or(""));
    }
    current_ = this;
    SetV4l2SystemForTesting(&system_);
  }
  ~WebcamFixture() {
    SetV4l2SystemForTesting(nullptr);
    std::filesystem::remove_all(root_);
  }

  static std::string Id(const std::string& path) { return "/dev/v4l/by-id/" + path; }

 private:
  static int Open(const char* path, int) {  // a node's descriptor: 1000 and its number
    return 1000 + std::atoi(path + current_->root_.size() + std::strlen("/dev/video"));
  }
  static int Ioctl(int fd, unsigned long, void* argument) {
    auto& answer = *static_cast<v4l2_capability*>(argument);
    answer = v4l2_capability{};
    current_->cards_.at(fd - 1000).copy(reinterpret_cast<char*>(answer.card), sizeof answer.card);
    answer.capabilities = V4L2_CAP_VIDEO_CAPTURE;
    return 0;
  }
  static int Close(int) { return 0; }

  static inline WebcamFixture* current_ = nullptr;
  std::string root_;  // before system_, which points at it
  std::vector<std::string> cards_;
  const V4l2System system_{&Open, &Ioctl, &Close, root_.c_str()};
};

}  // namespace kestrel_test
