// The system's news of devices that come and go, gathered without a thread of ours: the
// caller's thread waits in Wait, or a host's event loop waits on Descriptor. Kinds are the
// bits of MmdrWatchKindCode. What an event means is decided above: here an event only says
// "a kind may have changed".
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>

class DeviceEvents {
 public:
  using Clock = std::chrono::steady_clock;

  // Null when the system refused a descriptor or an event; may throw std::bad_alloc.
  static std::unique_ptr<DeviceEvents> Create();
  ~DeviceEvents();
  DeviceEvents(const DeviceEvents&) = delete;
  DeviceEvents& operator=(const DeviceEvents&) = delete;
  DeviceEvents(DeviceEvents&&) = delete;
  DeviceEvents& operator=(DeviceEvents&&) = delete;

  // Linux: a file descriptor that becomes readable; Windows: an event HANDLE.
  std::intptr_t Descriptor() const noexcept;
  // Starts following the kinds given that are not followed yet (for good).
  void Follow(std::uint32_t kinds);
  // Takes in what has arrived, waiting for something until `until` at the latest (not at
  // all when it has passed), and returns the kinds that had events. The kinds that need a
  // listing at each call whatever arrived (where the system tells nothing) count as events
  // once their interval has passed.
  std::uint32_t Wait(Clock::time_point until);
  // Makes the descriptor ready at `when` (and Wait return by then); Clock::time_point::max()
  // cancels.
  void WakeAt(Clock::time_point when);
  // Ends a Wait at once, now and from now on. Any thread, any time.
  void Interrupt() noexcept;
  bool Interrupted() const noexcept;

  struct Platform;  // what each platform holds (device_events_linux.cpp, _win.cpp)

#if defined(_WIN32)
  // For tests only: the audio endpoints' notification client registered by Follow (an
  // IMMNotificationClient; null before), for a test to deliver what Wine never sends.
  void* EndpointClientForTesting() const noexcept;
#endif

 private:
  explicit DeviceEvents(std::unique_ptr<Platform> platform) noexcept;
  std::unique_ptr<Platform> platform_;
};
