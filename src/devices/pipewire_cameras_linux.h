// Cameras that PipeWire shows: its Video/Source nodes of role Camera, among them the
// libcamera cameras behind an image processor that V4L2 cannot give (MIPI sensors). Read
// through libpipewire-0.3, opened at run time and never linked, so a machine without it
// loads this library all the same and simply lists V4L2's webcams.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace PipeWireCameras {

// A camera node as the daemon describes it (its registry entry, and what binding it adds).
struct Node {
  std::string name;         // node.name: stable across restarts and reboots
  std::string description;  // node.description
  std::string mediaClass;   // media.class
  std::string role;         // media.role
  std::string api;          // device.api: "v4l2", "libcamera", ...
  std::string objectPath;   // object.path: "libcamera:<camera id>", "v4l2:/dev/videoN"
  std::string devids;       // device.devids: the dev_t numbers of its kernel devices
};

// A camera that V4L2 lists, as the de-duplication compares it.
struct V4l2Camera {
  std::uint64_t rdev = 0;  // st_rdev of its /dev/videoN; 0 when unknown
  std::string usbIds;      // "vvvv:pppp" (lower-case hex) of its USB device; empty when none
};

enum class Listing {
  kListed,    // the daemon answered: nodes holds its camera nodes (perhaps none)
  kNoDaemon,  // no libpipewire, no daemon on the socket, or no answer before the deadline
  kFailed,    // memory ran out while listing
};

// Connect and the registry's round trip together: a socket that accepts and never answers
// costs this much; a socket that is not there costs a stat.
constexpr std::chrono::milliseconds kDeadline{2000};

// The prefix of a PipeWire camera's id, before its node.name: the camera is opened as a
// PipeWire stream whose target.object is the node.name.
constexpr char kIdPrefix[] = "pipewire:";

// The daemon's socket as libpipewire finds it: PIPEWIRE_REMOTE (a path, or a name in the
// runtime folder), else "pipewire-0" in PIPEWIRE_RUNTIME_DIR or XDG_RUNTIME_DIR; empty when
// there is no runtime folder to look in.
std::string SocketPath();

// Clears nodes, then reads the Video/Source nodes of the daemon at SocketPath(), each with
// the properties its binding adds. Starts no thread of its own (libpipewire's context runs
// its data loop's while the round lasts), prints nothing; nodes stays empty unless kListed. Every
// node of the registry gets a trivia log line.
Listing ReadNodes(std::vector<Node>& nodes);

// Why a node is not listed as a PipeWire camera (not a camera, or a camera V4L2 lists
// already: a V4L2 node, a libcamera node of a listed /dev/videoN by device.devids, or a
// libcamera node whose camera id ends in the USB ids "-vvvv:pppp" of a listed one); null
// when it is listed.
const char* WhyNotListed(const Node& node, const std::vector<V4l2Camera>& v4l2);

// Whether WhyNotListed needs V4L2's cameras for node: a libcamera camera that names device
// numbers or USB ids.
bool NamesV4l2Identities(const Node& node);

// A connection held for the registry's news: Video/Source nodes added or removed, and the
// daemon's end. Its owner's thread drives it through Run, which never waits; the loop's
// descriptor is kept in the owner's epoll set (tagged), which becomes readable when the
// daemon has something to say. libpipewire's data loop thread lives as long as it does.
class Subscription {
 public:
  enum class News {
    kNone,
    kChanged,  // a Video/Source node came or went
    kGone,     // the connection has ended: drop it
  };
  // Null when libpipewire or a daemon at SocketPath() is missing.
  static std::unique_ptr<Subscription> Start(int epollFd, std::uint64_t tag);
  ~Subscription();
  Subscription(const Subscription&) = delete;
  Subscription& operator=(const Subscription&) = delete;
  Subscription(Subscription&&) = delete;
  Subscription& operator=(Subscription&&) = delete;

  // Dispatches what has arrived, without waiting.
  News Run();

  struct Connection;

 private:
  explicit Subscription(std::unique_ptr<Connection> connection) noexcept;
  std::unique_ptr<Connection> connection_;
};

}  // namespace PipeWireCameras
