// Microphones from the sound server, through libpulse (which PulseAudio and PipeWire's
// pulse server both answer). libpulse.so.0 is opened for each listing and never linked, so
// a machine without it loads this library all the same and simply has no server.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>

#include "devices/device_info.h"

struct pa_source_info;

namespace SoundServer {

enum class Listing {
  kListed,    // the server answered: list holds its microphones (perhaps none)
  kNoServer,  // no libpulse, no server, a refusal, or no answer before the deadline (from
              // the server, or from the X display libpulse would read first)
  kFailed,    // memory ran out while listing
};

// Connect and listing together; a server that accepts and never answers costs this much.
constexpr std::chrono::milliseconds kDeadline{2000};

// Clears list, then lists the server's capture sources but the monitors of its sinks and
// a source whose every port is known to be unplugged: id = the source's name, name = its
// description. Never spawns a server, starts no thread, prints nothing; list stays empty
// unless kListed.
Listing EnumCaptureDevices(DeviceInfoList& list);

// Why a source is not listed: the monitor of a sink, or every port known to be unplugged
// (a port the server cannot judge counts as plugged); null when it is listed.
const char* WhyNotListed(const pa_source_info& source);

// A connection held for the server's news: sources added, removed or changed, and the
// server's own. Its owner's thread drives it through Run, which never waits; its sockets
// are kept in the owner's epoll set (tagged), which becomes readable when the server has
// something to say.
class Subscription {
 public:
  enum class News {
    kNone,
    kChanged,  // a source or the server changed, or the connection has just become ready
    kGone,     // the connection has ended: drop it
  };
  // Null when libpulse, a server to connect to, or an answering X display is missing.
  static std::unique_ptr<Subscription> Start(int epollFd, std::uint64_t tag);
  ~Subscription();
  Subscription(const Subscription&) = delete;
  Subscription& operator=(const Subscription&) = delete;
  Subscription(Subscription&&) = delete;
  Subscription& operator=(Subscription&&) = delete;

  // Dispatches what has arrived, without waiting.
  News Run();
  // Milliseconds within which libpulse wants Run again (its own timers); -1: none.
  int TimeoutMs() const noexcept;

  struct Connection;

 private:
  explicit Subscription(std::unique_ptr<Connection> connection) noexcept;
  std::unique_ptr<Connection> connection_;
};

}  // namespace SoundServer
