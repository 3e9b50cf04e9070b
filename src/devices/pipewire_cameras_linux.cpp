// PipeWire's camera nodes through libpipewire, opened with dlopen: one registry round trip
// per listing on a main loop that this thread runs itself, with a bounded wait at each turn,
// so that a silent socket costs kDeadline at most (libpipewire's context runs its data loop's
// thread for as long as it lives, which this code never waits on). The registry
// names each node; a Video/Source node is bound too, because device.api and device.devids
// come only with the bound node's own properties. Two syncs end the round: the first
// answers once every node is announced, the second once every bound node has described
// itself.
#include "devices/pipewire_cameras_linux.h"

#include <dlfcn.h>
#include <pipewire/pipewire.h>
#include <spa/utils/dict.h>
#include <sys/epoll.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <utility>

#include "core/time_left.h"
#include "log/log.h"

namespace PipeWireCameras {
namespace {

constexpr char kEnumName[] = "PipeWireCameras::ReadNodes";
constexpr char kVideoSource[] = "Video/Source";

// Every libpipewire function used that the library exports; the rest (the registry, the
// listeners, syncs and the loop's turns) are its headers' inlines, which call through the
// objects' own method tables.
// clang-format off
#define KESTREL_PIPEWIRE_FUNCTIONS(X) \
  X(pw_init) \
  X(pw_main_loop_new) \
  X(pw_main_loop_get_loop) \
  X(pw_main_loop_destroy) \
  X(pw_context_new) \
  X(pw_context_connect) \
  X(pw_context_destroy) \
  X(pw_core_disconnect) \
  X(pw_proxy_destroy)
// clang-format on

struct PipeWireApi {
  // The name follows "::" here, where parentheses cannot go.
  // NOLINTNEXTLINE(bugprone-macro-parentheses)
#define KESTREL_DECLARE(name) decltype(&::name) name = nullptr;
  KESTREL_PIPEWIRE_FUNCTIONS(KESTREL_DECLARE)
#undef KESTREL_DECLARE
};

// Opened once and kept, with pw_init run once: what pw_init sets up for the whole process
// (the support plugins it opens, its log) has no count of its users in the versions in the
// field, so pw_deinit, or closing the library, would pull it from under any other user,
// the host's own PipeWire streams among them. Null when libpipewire is not usable.
const PipeWireApi* Api() {
  static const PipeWireApi* const api = []() -> const PipeWireApi* {
    void* library = dlopen("libpipewire-0.3.so.0", RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) return nullptr;
    static PipeWireApi loaded;
    bool resolved = true;
#define KESTREL_RESOLVE(name)                                                   \
  loaded.name = reinterpret_cast<decltype(loaded.name)>(dlsym(library, #name)); \
  resolved = resolved && loaded.name != nullptr;
    KESTREL_PIPEWIRE_FUNCTIONS(KESTREL_RESOLVE)
#undef KESTREL_RESOLVE
    if (!resolved) {
      dlclose(library);
      return nullptr;
    }
    loaded.pw_init(nullptr, nullptr);
    return &loaded;
  }();
  return api;
}

std::string Property(const spa_dict* props, const char* key) {
  const char* value = props != nullptr ? spa_dict_lookup(props, key) : nullptr;
  return value != nullptr ? value : "";
}

// One connection to the daemon at SocketPath(): a main loop that this thread turns, the
// context, the core and its registry, released in the order of their dependence.
struct Remote {
  const PipeWireApi& api;
  pw_main_loop* mainLoop = nullptr;
  pw_loop* loop = nullptr;
  pw_context* context = nullptr;
  pw_core* core = nullptr;
  pw_registry* registry = nullptr;
  spa_hook coreListener{};
  spa_hook registryListener{};

  explicit Remote(const PipeWireApi& api) : api(api) {}
  Remote(const Remote&) = delete;
  Remote& operator=(const Remote&) = delete;
  Remote(Remote&&) = delete;
  Remote& operator=(Remote&&) = delete;
  ~Remote() {
    if (registry != nullptr) api.pw_proxy_destroy(reinterpret_cast<pw_proxy*>(registry));
    if (core != nullptr) api.pw_core_disconnect(core);
    if (context != nullptr) api.pw_context_destroy(context);
    if (mainLoop != nullptr) api.pw_main_loop_destroy(mainLoop);
  }

  // False when no daemon could be connected to (errno says why).
  bool Connect() {
    mainLoop = api.pw_main_loop_new(nullptr);
    loop = mainLoop != nullptr ? api.pw_main_loop_get_loop(mainLoop) : nullptr;
    context = loop != nullptr ? api.pw_context_new(loop, nullptr, 0) : nullptr;
    core = context != nullptr ? api.pw_context_connect(context, nullptr, 0) : nullptr;
    return core != nullptr;
  }
  // The core's and the registry's events go to data; false when there is no registry.
  bool Listen(const pw_core_events& coreEvents, const pw_registry_events& registryEvents,
              void* data) {
    pw_core_add_listener(core, &coreListener, &coreEvents, data);
    registry = pw_core_get_registry(core, PW_VERSION_REGISTRY, 0);
    if (registry == nullptr) return false;
    pw_registry_add_listener(registry, &registryListener, &registryEvents, data);
    return true;
  }
};

// One node of the registry; a Video/Source node also holds its binding while the round runs.
struct Entry {
  Node node;
  pw_proxy* proxy = nullptr;
  spa_hook listener{};
};

// The objects of one round, released in the order of their dependence whichever way the
// round ends.
struct Round {
  Remote remote;
  std::vector<std::unique_ptr<Entry>> entries;
  int pendingSync = -1;    // the sync whose answer is awaited
  bool announced = false;  // the first sync has answered: every node is known
  bool done = false;
  bool broken = false;  // the daemon reported the connection's end
  bool failed = false;  // memory ran out

  explicit Round(const PipeWireApi& api) : remote(api) {}
  Round(const Round&) = delete;
  Round& operator=(const Round&) = delete;
  Round(Round&&) = delete;
  Round& operator=(Round&&) = delete;
  ~Round() {  // the bindings before the registry that made them
    for (const auto& entry : entries) {
      if (entry->proxy != nullptr) remote.api.pw_proxy_destroy(entry->proxy);
    }
  }

  // Runs inside libpipewire, as do all the callbacks below: nothing may escape from them.
  static void OnNodeInfo(void* data, const pw_node_info* info) {
    auto* entry = static_cast<Entry*>(data);
    if (info == nullptr || (info->change_mask & PW_NODE_CHANGE_MASK_PROPS) == 0) return;
    try {
      entry->node.api = Property(info->props, PW_KEY_DEVICE_API);
      entry->node.devids = Property(info->props, "device.devids");
      if (entry->node.objectPath.empty()) {
        entry->node.objectPath = Property(info->props, PW_KEY_OBJECT_PATH);
      }
    } catch (...) {
      entry->node.api.clear();  // memory ran out: the node counts as one of no known API
    }
  }

  static void OnGlobal(void* data, std::uint32_t id, std::uint32_t /*permissions*/,
                       const char* type, std::uint32_t /*version*/, const spa_dict* props) {
    auto* round = static_cast<Round*>(data);
    if (round->failed || type == nullptr || std::strcmp(type, PW_TYPE_INTERFACE_Node) != 0) {
      return;
    }
    try {
      auto entry = std::make_unique<Entry>();
      entry->node.name = Property(props, PW_KEY_NODE_NAME);
      entry->node.description = Property(props, PW_KEY_NODE_DESCRIPTION);
      entry->node.mediaClass = Property(props, PW_KEY_MEDIA_CLASS);
      entry->node.role = Property(props, PW_KEY_MEDIA_ROLE);
      entry->node.objectPath = Property(props, PW_KEY_OBJECT_PATH);
      Entry& added = *entry;
      round->entries.push_back(std::move(entry));
      if (added.node.mediaClass != kVideoSource) return;
      static const pw_node_events kNodeEvents = [] {
        pw_node_events events{};
        events.version = PW_VERSION_NODE_EVENTS;
        events.info = &Round::OnNodeInfo;
        return events;
      }();
      added.proxy = static_cast<pw_proxy*>(
          pw_registry_bind(round->remote.registry, id, PW_TYPE_INTERFACE_Node, PW_VERSION_NODE, 0));
      if (added.proxy != nullptr) {
        pw_node_add_listener(reinterpret_cast<pw_node*>(added.proxy), &added.listener, &kNodeEvents,
                             &added);
      }
    } catch (...) {
      round->failed = true;
    }
  }

  static void OnDone(void* data, std::uint32_t id, int seq) {
    auto* round = static_cast<Round*>(data);
    if (id != PW_ID_CORE || seq != round->pendingSync) return;
    if (round->announced) {
      round->done = true;
      return;
    }
    // Every node is known and the Video/Source ones are bound: one more sync answers once
    // each has described itself.
    round->announced = true;
    round->pendingSync = pw_core_sync(round->remote.core, PW_ID_CORE, 0);
  }

  static void OnError(void* data, std::uint32_t id, int /*seq*/, int res, const char* message) {
    auto* round = static_cast<Round*>(data);
    Log(kLogLevelVerbose, "%s - the daemon reports error %d on object %u: %s", kEnumName, res,
        static_cast<unsigned>(id), message != nullptr ? message : "");
    // A node that went away as it was bound is the node's end; the core's is the round's.
    if (id == PW_ID_CORE) round->broken = true;
  }
};

// The dev_t numbers in a device.devids text: runs of decimal digits, whatever separates
// them (a number past 64 bits reads as the largest, which no node has).
std::vector<std::uint64_t> DeviceNumbers(const std::string& text) {
  std::vector<std::uint64_t> numbers;
  const char* const digits = "0123456789";
  for (std::size_t at = text.find_first_of(digits); at != std::string::npos;
       at = text.find_first_of(digits, text.find_first_not_of(digits, at))) {
    numbers.push_back(std::strtoull(text.c_str() + at, nullptr, 10));
  }
  return numbers;
}

// "vvvv:pppp" in lower case when a libcamera camera id ends in "-VVVV:PPPP" (hex), as
// libcamera names a UVC camera; empty otherwise.
std::string UsbIdsOfCameraId(const std::string& objectPath) {
  constexpr char kLibcamera[] = "libcamera:";
  constexpr std::size_t kSuffix = 10;  // "-VVVV:PPPP"
  if (objectPath.compare(0, sizeof kLibcamera - 1, kLibcamera) != 0 ||
      objectPath.size() < sizeof kLibcamera - 1 + kSuffix) {
    return "";
  }
  std::string ids = objectPath.substr(objectPath.size() - kSuffix + 1);
  if (objectPath[objectPath.size() - kSuffix] != '-' || ids[4] != ':') return "";
  for (std::size_t i = 0; i < ids.size(); ++i) {
    if (i == 4) continue;
    const char c = ids[i];
    if (!std::isxdigit(static_cast<unsigned char>(c))) return "";
    ids[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return ids;
}

bool IsSocket(const std::string& path) {
  struct stat status {};
  return !path.empty() && stat(path.c_str(), &status) == 0 && S_ISSOCK(status.st_mode);
}

}  // namespace

std::string SocketPath() {
  // Read only, as libpipewire itself reads them.
  const char* remote = std::getenv("PIPEWIRE_REMOTE");  // NOLINT(concurrency-mt-unsafe)
  if (remote == nullptr || remote[0] == '\0') remote = "pipewire-0";
  if (remote[0] == '/') return remote;
  const char* folder = std::getenv("PIPEWIRE_RUNTIME_DIR");  // NOLINT(concurrency-mt-unsafe)
  if (folder == nullptr || folder[0] == '\0') {
    folder = std::getenv("XDG_RUNTIME_DIR");  // NOLINT(concurrency-mt-unsafe)
  }
  if (folder == nullptr || folder[0] == '\0') return "";
  return std::string(folder) + "/" + remote;
}

Listing ReadNodes(std::vector<Node>& nodes) {
  nodes.clear();
  const auto deadline = std::chrono::steady_clock::now() + kDeadline;
  // No socket, no daemon: libpipewire is not even opened.
  const std::string socket = SocketPath();
  if (!IsSocket(socket)) {
    Log(kLogLevelVerbose, "%s - no PipeWire socket at '%s'", kEnumName, socket.c_str());
    return Listing::kNoDaemon;
  }
  const PipeWireApi* api = Api();
  if (api == nullptr) {
    Log(kLogLevelVerbose, "%s - libpipewire-0.3.so.0 is not usable", kEnumName);
    return Listing::kNoDaemon;
  }
  Round round(*api);
  if (!round.remote.Connect()) {
    Log(kLogLevelVerbose, "%s - no PipeWire daemon to connect to at '%s' (errno %d)", kEnumName,
        socket.c_str(), errno);
    return Listing::kNoDaemon;
  }
  static const pw_core_events kCoreEvents = [] {
    pw_core_events events{};
    events.version = PW_VERSION_CORE_EVENTS;
    events.done = &Round::OnDone;
    events.error = &Round::OnError;
    return events;
  }();
  static const pw_registry_events kRegistryEvents = [] {
    pw_registry_events events{};
    events.version = PW_VERSION_REGISTRY_EVENTS;
    events.global = &Round::OnGlobal;
    return events;
  }();
  if (!round.remote.Listen(kCoreEvents, kRegistryEvents, &round)) {
    Log(kLogLevelVerbose, "%s - no registry", kEnumName);
    return Listing::kNoDaemon;
  }
  round.pendingSync = pw_core_sync(round.remote.core, PW_ID_CORE, 0);

  pw_loop* const loop = round.remote.loop;
  pw_loop_enter(loop);
  while (!round.done && !round.broken && !round.failed) {
    const int left = TimeLeft<std::chrono::milliseconds>(deadline);
    if (left == 0) {
      Log(kLogLevelVerbose, "%s - no answer from the PipeWire daemon in time", kEnumName);
      break;
    }
    const int turned = pw_loop_iterate(loop, left);
    if (turned < 0 && turned != -EINTR) {
      Log(kLogLevelVerbose, "%s - the loop failed (%d)", kEnumName, turned);
      break;
    }
  }
  pw_loop_leave(loop);
  if (round.failed) {
    Log(kLogLevelError, "%s - memory ran out while listing", kEnumName);
    return Listing::kFailed;
  }
  if (!round.done) {
    if (round.broken) Log(kLogLevelVerbose, "%s - the PipeWire daemon went away", kEnumName);
    return Listing::kNoDaemon;
  }
  try {
    for (auto& entry : round.entries) nodes.push_back(std::move(entry->node));
  } catch (...) {
    nodes.clear();
    Log(kLogLevelError, "%s - memory ran out while listing", kEnumName);
    return Listing::kFailed;
  }
  Log(kLogLevelVerbose, "%s - %zu nodes", kEnumName, nodes.size());
  return Listing::kListed;
}

const char* WhyNotListed(const Node& node, const std::vector<V4l2Camera>& v4l2) {
  if (node.mediaClass != kVideoSource) return "not a video source";
  if (node.role != "Camera") return "a video source that is no camera (media.role)";
  if (node.api == "v4l2") return "a V4L2 device's node: V4L2's list has it";
  for (const std::uint64_t number : DeviceNumbers(node.devids)) {
    if (std::any_of(v4l2.begin(), v4l2.end(), [&](const V4l2Camera& camera) {
          return camera.rdev != 0 && camera.rdev == number;
        })) {
      return "its device.devids name a node V4L2 lists";
    }
  }
  const std::string usbIds = UsbIdsOfCameraId(node.objectPath);
  if (!usbIds.empty() && std::any_of(v4l2.begin(), v4l2.end(), [&](const V4l2Camera& camera) {
        return camera.usbIds == usbIds;
      })) {
    return "a USB camera of the vendor and product of one V4L2 lists";
  }
  if (node.name.empty()) return "no node.name to open it by";
  return nullptr;
}

bool NamesV4l2Identities(const Node& node) {
  return !DeviceNumbers(node.devids).empty() || !UsbIdsOfCameraId(node.objectPath).empty();
}

struct Subscription::Connection {
  Remote remote;
  int epollFd = -1;
  int loopFd = -1;
  std::vector<std::uint32_t> sources;  // the registry ids of the Video/Source nodes
  bool changed = false;
  bool gone = false;

  explicit Connection(const PipeWireApi& api) : remote(api) {}
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;
  Connection(Connection&&) = delete;
  Connection& operator=(Connection&&) = delete;
  ~Connection() {
    // Out of the set before libpipewire closes it, so that a number reused meanwhile is
    // never taken for it.
    if (loopFd >= 0) epoll_ctl(epollFd, EPOLL_CTL_DEL, loopFd, nullptr);
  }

  // Run inside libpipewire: nothing may escape from them.
  static void OnGlobal(void* data, std::uint32_t id, std::uint32_t /*permissions*/,
                       const char* type, std::uint32_t /*version*/, const spa_dict* props) {
    auto* c = static_cast<Connection*>(data);
    if (type == nullptr || std::strcmp(type, PW_TYPE_INTERFACE_Node) != 0 ||
        Property(props, PW_KEY_MEDIA_CLASS) != kVideoSource) {
      return;
    }
    try {
      c->sources.push_back(id);
    } catch (...) {
      // Then its removal goes unseen; its coming is news all the same.
    }
    Log(kLogLevelVerbose, "%s - video source %u added", "PipeWireCameras::Subscription",
        static_cast<unsigned>(id));
    c->changed = true;
  }
  static void OnGlobalRemove(void* data, std::uint32_t id) {
    auto* c = static_cast<Connection*>(data);
    const auto found = std::find(c->sources.begin(), c->sources.end(), id);
    if (found == c->sources.end()) return;
    c->sources.erase(found);
    Log(kLogLevelVerbose, "%s - video source %u removed", "PipeWireCameras::Subscription",
        static_cast<unsigned>(id));
    c->changed = true;
  }
  static void OnError(void* data, std::uint32_t id, int /*seq*/, int res, const char* /*message*/) {
    if (id != PW_ID_CORE) return;
    Log(kLogLevelVerbose, "%s - the connection ended (%d)", "PipeWireCameras::Subscription", res);
    static_cast<Connection*>(data)->gone = true;
  }
};

Subscription::Subscription(std::unique_ptr<Connection> connection) noexcept
    : connection_(std::move(connection)) {}
Subscription::~Subscription() = default;

std::unique_ptr<Subscription> Subscription::Start(int epollFd, std::uint64_t tag) {
  const PipeWireApi* api = IsSocket(SocketPath()) ? Api() : nullptr;
  if (api == nullptr) return nullptr;
  auto connection = std::make_unique<Connection>(*api);
  Connection& c = *connection;
  c.epollFd = epollFd;
  if (!c.remote.Connect()) return nullptr;
  static const pw_core_events kCoreEvents = [] {
    pw_core_events events{};
    events.version = PW_VERSION_CORE_EVENTS;
    events.error = &Connection::OnError;
    return events;
  }();
  static const pw_registry_events kRegistryEvents = [] {
    pw_registry_events events{};
    events.version = PW_VERSION_REGISTRY_EVENTS;
    events.global = &Connection::OnGlobal;
    events.global_remove = &Connection::OnGlobalRemove;
    return events;
  }();
  if (!c.remote.Listen(kCoreEvents, kRegistryEvents, &c)) return nullptr;
  epoll_event event{};
  event.events = EPOLLIN;
  event.data.u64 = tag;
  const int loopFd = pw_loop_get_fd(c.remote.loop);
  if (epoll_ctl(epollFd, EPOLL_CTL_ADD, loopFd, &event) != 0) return nullptr;
  c.loopFd = loopFd;
  return std::unique_ptr<Subscription>(new Subscription(std::move(connection)));
}

Subscription::News Subscription::Run() {
  Connection& c = *connection_;
  pw_loop_enter(c.remote.loop);
  // A few turns: what one dispatch answers may already be waiting for the next.
  for (int turn = 0; turn < 8 && !c.gone; ++turn) {
    const int dispatched = pw_loop_iterate(c.remote.loop, 0);
    if (dispatched < 0 && dispatched != -EINTR) c.gone = true;
    if (dispatched <= 0) break;
  }
  pw_loop_leave(c.remote.loop);
  if (c.gone) return News::kGone;
  return std::exchange(c.changed, false) ? News::kChanged : News::kNone;
}

}  // namespace PipeWireCameras
