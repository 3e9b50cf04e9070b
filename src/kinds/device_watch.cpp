#include "kinds/device_watch.h"

#include <algorithm>

#include "kinds/device_kinds.h"
#include "log/log.h"

namespace {

constexpr char kLogName[] = "DeviceWatch";

constexpr std::uint32_t Bit(MmdrDeviceKind kind) { return 1U << (kind - 1); }

}  // namespace

void DeviceWatch::Saw(MmdrDeviceKind kind, const DeviceInfoList& devices) {
  Seen seen;
  seen.reserve(devices.size());
  for (const DeviceInfo& device : devices) seen.emplace_back(device.id, device.name);
  std::sort(seen.begin(), seen.end());
  const std::lock_guard<std::mutex> hold(seenLock_);
  seen_.at(kind - 1) = std::move(seen);
}

std::optional<DeviceWatch::Seen> DeviceWatch::LastSeen(MmdrDeviceKind kind) {
  const std::lock_guard<std::mutex> hold(seenLock_);
  return seen_.at(kind - 1);
}

bool DeviceWatch::ListAndCompare(MmdrDeviceKind kind) {
  const std::optional<Seen> before = LastSeen(kind);
  DeviceInfoList devices;
  FindDeviceKind(kind)->enumerate(devices);
  Saw(kind, devices);
  return before != LastSeen(kind);
}

DeviceEvents* DeviceWatch::Events() {
  // Made under eventsLock_ alone, so that a descriptor asked for while another thread's
  // first watch starts never waits for that watch to end.
  const std::lock_guard<std::mutex> hold(eventsLock_);
  if (!events_) {
    events_ = DeviceEvents::Create();
    if (!events_) return nullptr;
    // A close that came first found nothing to interrupt.
    if (closed_.load()) events_->Interrupt();
  }
  return events_.get();
}

DeviceWatch::Outcome DeviceWatch::Descriptor(std::intptr_t& out) {
  DeviceEvents* events = Events();
  if (events == nullptr) return Outcome::kFailed;
  out = events->Descriptor();
  return Outcome::kDone;
}

DeviceWatch::Outcome DeviceWatch::Watch(std::uint32_t kinds, std::chrono::milliseconds timeout,
                                        std::uint32_t& changed) {
  changed = 0;
  const std::lock_guard<std::mutex> hold(waitLock_);
  if (closed_.load()) return Outcome::kClosed;
  DeviceEvents* events = Events();
  if (events == nullptr) return Outcome::kFailed;
  const Clock::time_point deadline = Clock::now() + timeout;
  // Followed before the first listing, so nothing that comes after that listing is missed.
  // A kind listed before but followed only now is compared at once: what the caller listed
  // may be stale already.
  for (const MmdrDeviceKind kind : {MMDR_DEVICE_VIDEO, MMDR_DEVICE_AUDIO}) {
    if ((kinds & ~followed_ & Bit(kind)) == 0) continue;
    events->Follow(Bit(kind));
    followed_ |= Bit(kind);
    if (!LastSeen(kind)) {
      ListAndCompare(kind);
    } else {
      pending_ |= Bit(kind);
      settleAt_ = std::min(settleAt_, Clock::now());
    }
  }
  for (;;) {
    const Clock::time_point until =
        (pending_ & kinds) != 0 ? std::min(deadline, settleAt_) : deadline;
    const std::uint32_t fresh = events->Wait(until);
    if (closed_.load()) return Outcome::kClosed;
    const Clock::time_point now = Clock::now();
    if (fresh != 0) {
      Log(kLogLevelVerbose, "%s - events for kinds 0x%x", kLogName, static_cast<unsigned>(fresh));
      if ((fresh & ~pending_) != 0) {  // a kind's first events: its settling time starts
        settleAt_ = now + kSettle;
        events->WakeAt(settleAt_);
      }
      pending_ |= fresh;
    }
    if ((pending_ & kinds) != 0 && now >= settleAt_) {
      for (const MmdrDeviceKind kind : {MMDR_DEVICE_VIDEO, MMDR_DEVICE_AUDIO}) {
        if ((pending_ & kinds & Bit(kind)) != 0 && ListAndCompare(kind)) changed |= Bit(kind);
      }
      pending_ &= ~kinds;
      if (pending_ == 0) events->WakeAt(Clock::time_point::max());
      Log(kLogLevelVerbose, "%s - listed again: kinds 0x%x changed", kLogName,
          static_cast<unsigned>(changed));
      if (changed != 0) return Outcome::kDone;
    }
    if (now >= deadline) return Outcome::kDone;
  }
}

void DeviceWatch::Close() noexcept {
  closed_.store(true);
  const std::lock_guard<std::mutex> hold(eventsLock_);
  if (events_) events_->Interrupt();
}
