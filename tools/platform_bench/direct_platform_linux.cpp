#include "direct_platform_linux.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <linux/videodev2.h>
#include <pipewire/pipewire.h>
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
#include <memory>
#include <type_traits>

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

namespace {

struct PipeWire {
  decltype(&pw_main_loop_new) mainLoopNew;
  decltype(&pw_main_loop_get_loop) getLoop;
  decltype(&pw_main_loop_destroy) mainLoopDestroy;
  decltype(&pw_context_new) contextNew;
  decltype(&pw_context_connect) connect;
  decltype(&pw_context_destroy) contextDestroy;
  decltype(&pw_core_disconnect) disconnect;
  decltype(&pw_proxy_destroy) proxyDestroy;
};

struct Camera {
  std::string name, description, api;
  pw_proxy* proxy = nullptr;
  spa_hook listener{};
};

struct RoundTrip {
  const PipeWire* api = nullptr;
  pw_core* core = nullptr;
  pw_registry* registry = nullptr;
  std::vector<std::unique_ptr<Camera>> cameras;
  int sync = 0, syncs = 0;
};

const char* Text(const spa_dict* props, const char* key) {
  const char* value = spa_dict_lookup(props, key);
  return value != nullptr ? value : "";
}

const PipeWire* OpenPipeWire() {
  static const PipeWire* api = []() -> const PipeWire* {
    void* library = dlopen("libpipewire-0.3.so.0", RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) return nullptr;
    const auto get = [&](auto& function, const char* name) {
      function =
          reinterpret_cast<std::remove_reference_t<decltype(function)>>(dlsym(library, name));
    };
    static PipeWire loaded{};
    get(loaded.mainLoopNew, "pw_main_loop_new");
    get(loaded.getLoop, "pw_main_loop_get_loop");
    get(loaded.mainLoopDestroy, "pw_main_loop_destroy");
    get(loaded.contextNew, "pw_context_new");
    get(loaded.connect, "pw_context_connect");
    get(loaded.contextDestroy, "pw_context_destroy");
    get(loaded.disconnect, "pw_core_disconnect");
    get(loaded.proxyDestroy, "pw_proxy_destroy");
    decltype(&pw_init) init = nullptr;
    get(init, "pw_init");
    init(nullptr, nullptr);
    return &loaded;
  }();
  return api;
}

}  // namespace

bool DirectPipeWireCameras(DirectList& out) {
  const PipeWire* api = OpenPipeWire();
  if (api == nullptr) return false;
  pw_main_loop* mainLoop = api->mainLoopNew(nullptr);
  pw_loop* loop = api->getLoop(mainLoop);
  pw_context* context = api->contextNew(loop, nullptr, 0);
  RoundTrip trip{api, api->connect(context, nullptr, 0)};
  static const pw_node_events nodeEvents = [] {
    pw_node_events events{};
    events.version = PW_VERSION_NODE_EVENTS;
    events.info = [](void* data, const pw_node_info* info) {
      if ((info->change_mask & PW_NODE_CHANGE_MASK_PROPS) != 0) {
        static_cast<Camera*>(data)->api = Text(info->props, PW_KEY_DEVICE_API);
      }
    };
    return events;
  }();
  static const pw_registry_events registryEvents = [] {
    pw_registry_events events{};
    events.version = PW_VERSION_REGISTRY_EVENTS;
    events.global = [](void* data, std::uint32_t id, std::uint32_t, const char* type, std::uint32_t,
                       const spa_dict* props) {
      auto* trip = static_cast<RoundTrip*>(data);
      if (std::strcmp(type, PW_TYPE_INTERFACE_Node) != 0 ||
          std::strcmp(Text(props, PW_KEY_MEDIA_CLASS), "Video/Source") != 0 ||
          std::strcmp(Text(props, PW_KEY_MEDIA_ROLE), "Camera") != 0) {
        return;
      }
      auto camera = std::make_unique<Camera>();
      camera->name = Text(props, PW_KEY_NODE_NAME);
      camera->description = Text(props, PW_KEY_NODE_DESCRIPTION);
      camera->proxy = static_cast<pw_proxy*>(
          pw_registry_bind(trip->registry, id, PW_TYPE_INTERFACE_Node, PW_VERSION_NODE, 0));
      pw_node_add_listener(reinterpret_cast<pw_node*>(camera->proxy), &camera->listener,
                           &nodeEvents, camera.get());
      trip->cameras.push_back(std::move(camera));
    };
    return events;
  }();
  static const pw_core_events coreEvents = [] {
    pw_core_events events{};
    events.version = PW_VERSION_CORE_EVENTS;
    events.done = [](void* data, std::uint32_t id, int seq) {
      auto* trip = static_cast<RoundTrip*>(data);
      if (id == PW_ID_CORE && seq == trip->sync && ++trip->syncs == 1) {
        trip->sync = pw_core_sync(trip->core, PW_ID_CORE, 0);
      }
    };
    return events;
  }();
  spa_hook coreListener{}, registryListener{};
  if (trip.core != nullptr) {
    pw_core_add_listener(trip.core, &coreListener, &coreEvents, &trip);
    trip.registry = pw_core_get_registry(trip.core, PW_VERSION_REGISTRY, 0);
    pw_registry_add_listener(trip.registry, &registryListener, &registryEvents, &trip);
    trip.sync = pw_core_sync(trip.core, PW_ID_CORE, 0);
    pw_loop_enter(loop);
    while (trip.syncs < 2 && pw_loop_iterate(loop, 2000) > 0) {
    }
    pw_loop_leave(loop);
  }
  for (const auto& camera : trip.cameras) {
    if (camera->api != "v4l2") out.push_back({"pipewire:" + camera->name, camera->description});
    api->proxyDestroy(camera->proxy);
  }
  if (trip.registry != nullptr) api->proxyDestroy(reinterpret_cast<pw_proxy*>(trip.registry));
  if (trip.core != nullptr) api->disconnect(trip.core);
  api->contextDestroy(context);
  api->mainLoopDestroy(mainLoop);
  return trip.syncs == 2;
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
