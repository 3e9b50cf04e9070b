// What one handle watches: the devices it last saw of each kind, and the system's events
// that may change them. A watch reports a kind only when a fresh listing differs from what
// was last seen; events are taken together for a settling time first, so that a burst
// (a node, then its links) costs one listing and one report.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "devices/device_events.h"
#include "devices/device_info.h"
#include "kestrelCliLib.h"

class DeviceWatch {
 public:
  // How long events are gathered before a listing.
  static constexpr std::chrono::milliseconds kSettle{200};

  enum class Outcome {
    kDone,    // changed holds the kinds that differ (perhaps none)
    kClosed,  // the handle was closed before or during the wait
    kFailed,  // the system refused a descriptor or an event
  };

  // Records what a listing of a kind found (by Mmdr_EnumDevices or a watch).
  void Saw(MmdrDeviceKind kind, const DeviceInfoList& devices);
  // Waits up to timeout for the kinds (MmdrWatchKindCode bits) to differ from what was last
  // seen. May throw std::bad_alloc.
  Outcome Watch(std::uint32_t kinds, std::chrono::milliseconds timeout, std::uint32_t& changed);
  // The descriptor of the handle's events, made at the first need.
  Outcome Descriptor(std::intptr_t& out);
  // Ends a wait now and every later one at once. Any thread.
  void Close() noexcept;

 private:
  using Clock = DeviceEvents::Clock;
  using Seen = std::vector<std::pair<std::wstring, std::wstring>>;  // sorted (id, name)

  DeviceEvents* Events();  // made at the first need; null when the system refused
  std::optional<Seen> LastSeen(MmdrDeviceKind kind);
  bool ListAndCompare(MmdrDeviceKind kind);  // true when it differs from what was seen

  std::mutex seenLock_;
  std::array<std::optional<Seen>, 2> seen_;  // by kind code - 1

  std::mutex waitLock_;  // one watch at a time on a handle; owns what follows
  std::uint32_t followed_ = 0;
  std::uint32_t pending_ = 0;  // kinds with events not yet listed
  Clock::time_point settleAt_;

  std::mutex eventsLock_;  // events_, made once and kept until the watch goes
  std::unique_ptr<DeviceEvents> events_;
  std::atomic<bool> closed_{false};
};
