// A PipeWire node's texts as the daemon hands them over, any bytes, against V4L2's cameras
// (input lines: name, class, role, device.api, device.devids, object.path, then a camera a
// line: its device number and its USB ids): a node is listed exactly when it is a camera
// (Video/Source, role Camera) with a node.name that is no V4L2 node, names no device number of
// a listed node in device.devids (runs of digits) and whose libcamera id does not end in the
// USB ids "-VVVV:PPPP" (any letter case) of a listed one.
#include <algorithm>
#include <cstdlib>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "devices/pipewire_cameras_linux.h"
#include "fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
  std::vector<std::string> line;
  for (std::string each; line.size() < 10 && std::getline(in, each);) line.push_back(each);
  line.resize(std::max<std::size_t>(line.size(), 6));
  const PipeWireCameras::Node node{line[0], "", line[1], line[2], line[3], line[5], line[4]};
  std::vector<PipeWireCameras::V4l2Camera> v4l2;
  for (std::size_t i = 6; i < line.size(); ++i) {
    char* ids = nullptr;
    const std::uint64_t rdev = std::strtoull(line[i].c_str(), &ids, 10);
    v4l2.push_back({rdev, *ids == ' ' ? ids + 1 : ids});
  }
  bool listedByV4l2 = node.api == "v4l2", namesIds = false;
  const std::regex digits("[0-9]+"), usb("^libcamera:[^]*-([0-9a-fA-F]{4}:[0-9a-fA-F]{4})$");
  for (std::sregex_iterator run(node.devids.begin(), node.devids.end(), digits), end; run != end;
       ++run) {
    namesIds = true;
    std::string number = run->str();
    number.erase(0, std::min(number.find_first_not_of('0'), number.size() - 1));
    for (const auto& camera : v4l2)
      listedByV4l2 |= camera.rdev != 0 && number.size() < 20 && std::stoull(number) == camera.rdev;
  }
  std::smatch ids;
  if (std::regex_match(node.objectPath, ids, usb)) {
    namesIds = true;
    std::string lower = ids[1].str();
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (const auto& camera : v4l2) listedByV4l2 |= camera.usbIds == lower;
  }
  const bool camera = node.mediaClass == "Video/Source" && node.role == "Camera";
  FUZZ_CHECK((PipeWireCameras::WhyNotListed(node, v4l2) == nullptr) ==
             (camera && !listedByV4l2 && !node.name.empty()));
  FUZZ_CHECK(PipeWireCameras::NamesV4l2Identities(node) == namesIds);
  return 0;
}
