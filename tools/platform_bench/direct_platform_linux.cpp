#include "direct_platform_linux.h"

#include <fcntl.h>
#include <linux/videodev2.h>
#include <pulse/context.h>
#include <pulse/introspect.h>
#include <pulse/mainloop.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>

namespace kestrel_direct {
namespace {

namespace fs = std::filesystem;

// The links of one udev folder by the node each resolves to (the first in byte order wins).
std::map<std::string, std::string> Links(const std::string& root, const char* folder) {
  std::vector<fs::path> names;
  std::error_code error;
  for (fs::directory_iterator it(root + folder, error), end; !error && it != end;
       it.increment(error)) {
    names.push_back(it->path().filename());
  }
  std::sort(names.begin(), names.end());
  std::map<std::string, std::string> byNode;
  for (const fs::path& name : names) {
    const fs::path link = fs::path(folder) / name;
    const fs::path target = fs::read_symlink(root + link.string(), error);
    if (!error) byNode.emplace((fs::path(folder) / target).lexically_normal(), link);
  }
  return byNode;
}

struct Collected {
  DirectList* out = nullptr;
  bool done = false;
};

void OnSource(pa_context* /*context*/, const pa_source_info* source, int eol, void* userdata) {
  auto* collected = static_cast<Collected*>(userdata);
  if (eol != 0 || source == nullptr) {
    collected->done = true;
    return;
  }
  const auto plugged = [](const pa_source_port_info* port) {
    return port == nullptr || port->available != PA_PORT_AVAILABLE_NO;
  };
  if (source->monitor_of_sink == PA_INVALID_INDEX &&
      (source->n_ports == 0 ||
       std::any_of(source->ports, source->ports + source->n_ports, plugged))) {
    collected->out->push_back(
        {source->name, source->description != nullptr ? source->description : source->name});
  }
}

}  // namespace

void DirectWebcams(const V4l2System& system, DirectList& out) {
  out.clear();
  const std::string root = system.root;
  std::vector<std::string> nodes;
  std::error_code error;
  for (fs::directory_iterator it(root + "/sys/class/video4linux", error), end; !error && it != end;
       it.increment(error)) {
    std::string name = it->path().filename();
    if (name.size() > 5 && name.compare(0, 5, "video") == 0 &&
        name.find_first_not_of("0123456789", 5) == std::string::npos) {
      nodes.push_back(std::move(name));
    }
  }
  std::sort(nodes.begin(), nodes.end(), [](const std::string& a, const std::string& b) {
    return a.size() != b.size() ? a.size() < b.size() : a < b;
  });
  const auto byId = Links(root, "/dev/v4l/by-id");
  const auto byPath = Links(root, "/dev/v4l/by-path");
  for (const std::string& node : nodes) {
    const std::string path = "/dev/" + node;
    const int fd = system.open((root + path).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) continue;
    v4l2_capability capability{};
    const bool queried = system.ioctl(fd, VIDIOC_QUERYCAP, &capability) == 0;
    system.close(fd);
    const std::uint32_t caps = (capability.capabilities & V4L2_CAP_DEVICE_CAPS) != 0
                                   ? capability.device_caps
                                   : capability.capabilities;
    if (!queried || (caps & (V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_VIDEO_CAPTURE_MPLANE)) == 0 ||
        (caps & (V4L2_CAP_VIDEO_OUTPUT | V4L2_CAP_VIDEO_OUTPUT_MPLANE | V4L2_CAP_VIDEO_M2M |
                 V4L2_CAP_VIDEO_M2M_MPLANE)) != 0) {
      continue;
    }
    const auto* card = reinterpret_cast<const char*>(capability.card);
    const auto id = byId.find(path);
    const auto port = byPath.find(path);
    out.push_back({id != byId.end()       ? id->second
                   : port != byPath.end() ? port->second
                                          : path,
                   std::string(card, strnlen(card, sizeof capability.card))});
  }
}

void DirectSoundServer(DirectList& out) {
  out.clear();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  pa_mainloop* mainloop = pa_mainloop_new();
  pa_context* context = pa_context_new(pa_mainloop_get_api(mainloop), "kestrel-bench");
  pa_operation* listing = nullptr;
  Collected collected{&out};
  if (pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0) {
    while (!collected.done) {
      const pa_context_state_t state = pa_context_get_state(context);
      if (!PA_CONTEXT_IS_GOOD(state)) break;
      if (state == PA_CONTEXT_READY && listing == nullptr) {
        listing = pa_context_get_source_info_list(context, &OnSource, &collected);
      }
      const auto left = std::chrono::duration_cast<std::chrono::microseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0 || pa_mainloop_prepare(mainloop, static_cast<int>(left.count())) < 0 ||
          pa_mainloop_poll(mainloop) < 0 || pa_mainloop_dispatch(mainloop) < 0) {
        break;
      }
    }
  }
  if (listing != nullptr) pa_operation_unref(listing);
  pa_context_disconnect(context);
  pa_context_unref(context);
  pa_mainloop_free(mainloop);
}

namespace {

constexpr char kMachineFile[] = "/etc/xdg/corvane/meridel/kestrel.conf";

std::string ReadSetting(const std::string& file, const std::string& key) {
  std::ifstream in(file);
  std::string value;
  for (std::string line; std::getline(in, line);) {
    if (line.compare(0, key.size() + 1, key + "=") == 0) value = line.substr(key.size() + 1);
  }
  return value;
}

}  // namespace

std::string DirectSetting(const std::string& key) {
  // NOLINTNEXTLINE(concurrency-mt-unsafe): the benchmark has one thread
  const char* config = std::getenv("XDG_CONFIG_HOME");
  const std::string value = ReadSetting(
      std::string(config != nullptr ? config : "") + "/corvane/meridel/kestrel.conf", key);
  return value.empty() ? ReadSetting(kMachineFile, key) : value;
}

std::string DirectMachineSetting(const std::string& key) { return ReadSetting(kMachineFile, key); }

}  // namespace kestrel_direct
