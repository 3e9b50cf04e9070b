// Linux: one epoll set is the descriptor. It holds inotify on the folders where V4L2 nodes,
// their udev links and ALSA's device files appear (the V4L2 ones under the enumerator's
// root) and where PipeWire's socket appears, the sound server connection's sockets, the
// PipeWire connection's loop, a timer for the caller's settling time, a timer that tries
// the server again while none answers, and an eventfd that ends waits.
#include "devices/device_events.h"

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "core/scoped_fd_posix.h"
#include "devices/pipewire_cameras_linux.h"
#include "devices/sound_server_linux.h"
#include "devices/v4l2_system_linux.h"
#include "kestrelCliLib.h"
#include "log/log.h"

namespace {

constexpr char kLogName[] = "DeviceEvents";

// What each descriptor of the set is, as its epoll entry says.
enum Tag : std::uint64_t { kWake, kSettle, kRetry, kVideo, kAudio, kPipeWire, kServer };

// While no sound server answers, how often one is tried again (a connect that fails at
// once: no listing).
constexpr int kRetrySeconds = 1;

constexpr std::uint32_t kFolderEvents =
    IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_ATTRIB | IN_DELETE_SELF;

bool Add(int epollFd, int fd, Tag tag) {
  epoll_event event{};
  event.events = EPOLLIN;
  event.data.u64 = tag;
  return epoll_ctl(epollFd, EPOLL_CTL_ADD, fd, &event) == 0;
}

void ArmTimer(int timerFd, const timespec& value, const timespec& interval) {
  itimerspec setting{};
  setting.it_value = value;
  setting.it_interval = interval;
  timerfd_settime(timerFd, TFD_TIMER_ABSTIME, &setting, nullptr);
}

timespec ToTimespec(DeviceEvents::Clock::time_point when) {
  const auto since = when.time_since_epoch();
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(since);
  timespec value{};
  value.tv_sec = static_cast<time_t>(seconds.count());
  value.tv_nsec = static_cast<long>(
      std::chrono::duration_cast<std::chrono::nanoseconds>(since - seconds).count());
  if (value.tv_sec == 0 && value.tv_nsec == 0) value.tv_nsec = 1;  // 0 would disarm
  return value;
}

// Reads what the inotify descriptor holds: true when a name that `relevant` accepts (or a
// watched folder itself) changed.
template <typename Relevant>
bool DrainNotify(int fd, Relevant relevant) {
  alignas(inotify_event) char buffer[4096];
  bool any = false;
  for (;;) {
    const ssize_t size = ::read(fd, buffer, sizeof buffer);
    if (size <= 0) return any;
    for (ssize_t at = 0; at < size;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
      const char* name = event->len > 0 ? event->name : "";
      if (relevant(event->wd, name)) {
        Log(kLogLevelVerbose, "%s - folder event 0x%x on '%s'", kLogName,
            static_cast<unsigned>(event->mask), name);
        any = true;
      }
      at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
    }
  }
}

bool StartsWith(const char* text, const char* prefix) {
  return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

}  // namespace

struct DeviceEvents::Platform {
  ScopedFd epoll, wake, settle, retry, video, audio;
  std::string videoRoot;
  int videoDevWatch = -1, audioDevWatch = -1;  // the /dev folders: only some names count
  int pipeWireFolderWatch = -1;                // the socket's folder: its name only counts
  std::string pipeWireSocket;                  // that name
  std::unique_ptr<PipeWireCameras::Subscription> pipeWire;
  std::unique_ptr<SoundServer::Subscription> server;
  DeviceEvents::Clock::time_point serverDue;  // when libpulse wants to run again
  std::uint32_t followed = 0;
  std::atomic<bool> interrupted{false};

  // Watches what exists now of the folders; a folder created later is added when its
  // parent reports it (adding a watch again changes nothing).
  void WatchVideoFolders() {
    videoDevWatch = inotify_add_watch(video.get(), (videoRoot + "/dev").c_str(), kFolderEvents);
    for (const char* folder : {"/dev/v4l", "/dev/v4l/by-id", "/dev/v4l/by-path"}) {
      inotify_add_watch(video.get(), (videoRoot + folder).c_str(), kFolderEvents);
    }
    // A PipeWire daemon that starts or ends makes or removes its socket.
    const std::string socket = PipeWireCameras::SocketPath();
    const std::size_t slash = socket.rfind('/');
    if (slash != std::string::npos && slash > 0) {
      pipeWireSocket = socket.substr(slash + 1);
      pipeWireFolderWatch =
          inotify_add_watch(video.get(), socket.substr(0, slash).c_str(), kFolderEvents);
    }
  }
  void ConnectPipeWire() {
    pipeWire = PipeWireCameras::Subscription::Start(epoll.get(), kPipeWire);
    if (pipeWire) Log(kLogLevelVerbose, "%s - following PipeWire's cameras", kLogName);
  }
  void WatchAudioFolders() {
    audioDevWatch = inotify_add_watch(audio.get(), "/dev", kFolderEvents);
    inotify_add_watch(audio.get(), "/dev/snd", kFolderEvents);
  }

  void ConnectServer() {
    server = SoundServer::Subscription::Start(epoll.get(), kServer);
    serverDue = DeviceEvents::Clock::now();  // its first turn's news
    if (server) {
      Log(kLogLevelVerbose, "%s - following the sound server", kLogName);
      const timespec none{};
      ArmTimer(retry.get(), none, none);
    } else {
      RetryServerLater();
    }
  }
  void RetryServerLater() {
    timespec first{};
    clock_gettime(CLOCK_MONOTONIC, &first);
    first.tv_sec += kRetrySeconds;
    ArmTimer(retry.get(), first, timespec{kRetrySeconds, 0});
  }
};

DeviceEvents::DeviceEvents(std::unique_ptr<Platform> platform) noexcept
    : platform_(std::move(platform)) {}
DeviceEvents::~DeviceEvents() = default;

std::unique_ptr<DeviceEvents> DeviceEvents::Create() {
  auto platform = std::make_unique<Platform>();
  Platform& p = *platform;
  p.epoll = ScopedFd(epoll_create1(EPOLL_CLOEXEC));
  p.wake = ScopedFd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  p.settle = ScopedFd(timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK));
  p.retry = ScopedFd(timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK));
  if (!p.epoll || !p.wake || !p.settle || !p.retry || !Add(p.epoll.get(), p.wake.get(), kWake) ||
      !Add(p.epoll.get(), p.settle.get(), kSettle) || !Add(p.epoll.get(), p.retry.get(), kRetry)) {
    Log(kLogLevelError, "%s - no descriptors for a watch (errno %d)", kLogName, errno);
    return nullptr;
  }
  return std::unique_ptr<DeviceEvents>(new DeviceEvents(std::move(platform)));
}

std::intptr_t DeviceEvents::Descriptor() const noexcept { return platform_->epoll.get(); }

void DeviceEvents::Follow(std::uint32_t kinds) {
  Platform& p = *platform_;
  kinds &= ~p.followed;
  if ((kinds & MMDR_WATCH_VIDEO) != 0) {
    p.video = ScopedFd(inotify_init1(IN_CLOEXEC | IN_NONBLOCK));
    if (!p.video || !Add(p.epoll.get(), p.video.get(), kVideo)) {
      Log(kLogLevelError, "%s - no inotify for webcams (errno %d)", kLogName, errno);
    } else {
      p.videoRoot = V4l2Root();
      p.WatchVideoFolders();
      p.ConnectPipeWire();
    }
  }
  if ((kinds & MMDR_WATCH_AUDIO) != 0) {
    p.audio = ScopedFd(inotify_init1(IN_CLOEXEC | IN_NONBLOCK));
    if (!p.audio || !Add(p.epoll.get(), p.audio.get(), kAudio)) {
      Log(kLogLevelError, "%s - no inotify for ALSA (errno %d)", kLogName, errno);
    } else {
      p.WatchAudioFolders();
    }
    p.ConnectServer();
  }
  p.followed |= kinds;
}

std::uint32_t DeviceEvents::Wait(Clock::time_point until) {
  Platform& p = *platform_;
  std::uint32_t kinds = 0;
  for (;;) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - Clock::now());
    int timeout =
        static_cast<int>(std::max<std::int64_t>(0, std::min<std::int64_t>(left.count(), 1 << 30)));
    if (p.server) {
      const auto server = std::chrono::ceil<std::chrono::milliseconds>(p.serverDue - Clock::now());
      if (server.count() < timeout)
        timeout = static_cast<int>(std::max<std::int64_t>(0, server.count()));
    }
    if (p.interrupted.load()) return kinds;
    epoll_event events[8];
    const int count = epoll_wait(p.epoll.get(), events, 8, kinds != 0 ? 0 : timeout);
    bool settled = false;
    bool serverEvent = false;
    bool pipeWireEvent = false;
    for (int i = 0; i < count; ++i) {
      std::uint64_t expirations = 0;
      switch (events[i].data.u64) {
        case kWake: return kinds;
        case kSettle:
          settled = ::read(p.settle.get(), &expirations, sizeof expirations) > 0 || settled;
          break;
        case kRetry:
          if (::read(p.retry.get(), &expirations, sizeof expirations) > 0 && !p.server) {
            p.ConnectServer();
          }
          break;
        case kVideo: {
          bool socketEvent = false;
          if (DrainNotify(p.video.get(), [&](int wd, const char* name) {
                if (wd == p.pipeWireFolderWatch) {
                  socketEvent = socketEvent || p.pipeWireSocket == name;
                  return p.pipeWireSocket == name;
                }
                return wd != p.videoDevWatch || StartsWith(name, "video") ||
                       StartsWith(name, "v4l");
              })) {
            p.WatchVideoFolders();
            kinds |= MMDR_WATCH_VIDEO;
          }
          if (socketEvent && !p.pipeWire) p.ConnectPipeWire();
          break;
        }
        case kPipeWire: pipeWireEvent = true; break;
        case kAudio:
          if (DrainNotify(p.audio.get(), [&](int wd, const char* name) {
                return wd != p.audioDevWatch || StartsWith(name, "snd");
              })) {
            p.WatchAudioFolders();
            kinds |= MMDR_WATCH_AUDIO;
          }
          break;
        default: serverEvent = true; break;  // the server's sockets: run below
      }
    }
    // Run only when the server said something or libpulse's own time has come: a watch
    // with nothing pending costs an epoll_wait and no more.
    if (p.server && (serverEvent || Clock::now() >= p.serverDue)) {
      const SoundServer::Subscription::News news = p.server->Run();
      const int due = p.server->TimeoutMs();
      p.serverDue =
          due < 0 ? Clock::time_point::max() : Clock::now() + std::chrono::milliseconds(due);
      switch (news) {
        case SoundServer::Subscription::News::kNone: break;
        case SoundServer::Subscription::News::kChanged: kinds |= MMDR_WATCH_AUDIO; break;
        case SoundServer::Subscription::News::kGone:
          Log(kLogLevelVerbose, "%s - the sound server went away", kLogName);
          p.server.reset();
          p.RetryServerLater();
          kinds |= MMDR_WATCH_AUDIO;
          break;
      }
    }
    if (p.pipeWire && pipeWireEvent) {
      switch (p.pipeWire->Run()) {
        case PipeWireCameras::Subscription::News::kNone: break;
        case PipeWireCameras::Subscription::News::kChanged: kinds |= MMDR_WATCH_VIDEO; break;
        case PipeWireCameras::Subscription::News::kGone:
          Log(kLogLevelVerbose, "%s - PipeWire went away", kLogName);
          p.pipeWire.reset();
          kinds |= MMDR_WATCH_VIDEO;
          break;
      }
    }
    if (kinds != 0 || settled || Clock::now() >= until) return kinds;
  }
}

void DeviceEvents::WakeAt(Clock::time_point when) {
  const timespec none{};
  ArmTimer(platform_->settle.get(), when == Clock::time_point::max() ? none : ToTimespec(when),
           none);
}

void DeviceEvents::Interrupt() noexcept {
  platform_->interrupted.store(true);
  const std::uint64_t one = 1;
  [[maybe_unused]] const ssize_t written = ::write(platform_->wake.get(), &one, sizeof one);
}

bool DeviceEvents::Interrupted() const noexcept { return platform_->interrupted.load(); }
