// The sound server's capture sources through libpulse, opened with dlopen for each
// listing: a non-threaded main loop that this thread runs itself, with a bounded wait
// at each turn, so that no thread is started and a silent server costs kDeadline at most.
// The one wait of libpulse's own, on an X display as a context is created, is tried
// first within the same deadline.
#include "devices/sound_server_linux.h"

#include <pulse/context.h>
#include <pulse/introspect.h>
#include <pulse/mainloop.h>
#include <pulse/subscribe.h>
#include <poll.h>
#include <sys/epoll.h>

#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <utility>
#include <vector>

#include "core/scoped_library_posix.h"
#include "core/time_left.h"
#include "devices/device_text.h"
#include "devices/x_display_linux.h"
#include "log/log.h"

namespace SoundServer {
namespace {

constexpr char kEnumName[] = "SoundServer::EnumCaptureDevices";

// Every libpulse function used, resolved from the opened library: declared by libpulse's
// headers, never linked.
// clang-format off
#define KESTREL_PULSE_FUNCTIONS(X) \
  X(pa_get_library_version) \
  X(pa_mainloop_new) \
  X(pa_mainloop_free) \
  X(pa_mainloop_get_api) \
  X(pa_mainloop_prepare) \
  X(pa_mainloop_poll) \
  X(pa_mainloop_dispatch) \
  X(pa_mainloop_set_poll_func) \
  X(pa_context_new) \
  X(pa_context_unref) \
  X(pa_context_connect) \
  X(pa_context_disconnect) \
  X(pa_context_get_state) \
  X(pa_context_get_source_info_list) \
  X(pa_context_set_subscribe_callback) \
  X(pa_context_subscribe) \
  X(pa_operation_get_state) \
  X(pa_operation_cancel) \
  X(pa_operation_unref)
// clang-format on

struct PulseApi {
  // The name follows "::" here, where parentheses cannot go.
  // NOLINTNEXTLINE(bugprone-macro-parentheses)
#define KESTREL_DECLARE(name) decltype(&::name) name = nullptr;
  KESTREL_PULSE_FUNCTIONS(KESTREL_DECLARE)
#undef KESTREL_DECLARE
};

bool LoadPulse(ScopedLibrary& library, PulseApi& api) {
  library = ScopedLibrary("libpulse.so.0", RTLD_NOW | RTLD_LOCAL);
  if (!library) return false;
  bool resolved = true;
#define KESTREL_RESOLVE(name) resolved = library.Resolve(#name, api.name) && resolved;
  KESTREL_PULSE_FUNCTIONS(KESTREL_RESOLVE)
#undef KESTREL_RESOLVE
  return resolved;
}

// One owner for each libpulse object kind; each frees its object through the table.
void Free(const PulseApi& api, pa_mainloop* mainloop) { api.pa_mainloop_free(mainloop); }
void Free(const PulseApi& api, pa_context* context) {
  api.pa_context_disconnect(context);
  api.pa_context_unref(context);
}
void Free(const PulseApi& api, pa_operation* operation) {
  // Cancelled first, so that its callback can never run on a list that has gone.
  if (api.pa_operation_get_state(operation) == PA_OPERATION_RUNNING) {
    api.pa_operation_cancel(operation);
  }
  api.pa_operation_unref(operation);
}

template <typename Object>
class PulseOwner {
 public:
  PulseOwner(const PulseApi& api, Object* object) noexcept : api_(api), object_(object) {}
  ~PulseOwner() { Reset(nullptr); }
  PulseOwner(const PulseOwner&) = delete;
  PulseOwner& operator=(const PulseOwner&) = delete;
  PulseOwner(PulseOwner&&) = delete;
  PulseOwner& operator=(PulseOwner&&) = delete;
  void Reset(Object* object) noexcept {
    if (object_ != nullptr) Free(api_, object_);
    object_ = object;
  }
  Object* get() const noexcept { return object_; }

 private:
  const PulseApi& api_;
  Object* object_;
};

struct Collected {
  DeviceInfoList* list = nullptr;
  bool done = false;
  bool answered = false;  // the listing's end came from the server, not from an error
  bool failed = false;    // a source could not be recorded (memory ran out)
};

// Runs inside libpulse: nothing may escape from here.
void OnSource(pa_context* /*context*/, const pa_source_info* source, int eol, void* userdata) {
  auto* collected = static_cast<Collected*>(userdata);
  if (eol != 0 || source == nullptr) {
    collected->done = true;
    collected->answered = eol > 0;
    return;
  }
  const char* notListed = WhyNotListed(*source);
  Log(kLogLevelTrivia, "%s - source '%s' (%s): %s%s", kEnumName, source->name,
      source->description != nullptr ? source->description : "",
      notListed != nullptr ? "not listed, " : "listed", notListed != nullptr ? notListed : "");
  if (collected->failed || notListed != nullptr) return;
  try {
    collected->list->push_back(SourceDevice(source->name, source->description,
                                            static_cast<std::uint32_t>(collected->list->size())));
  } catch (...) {
    collected->failed = true;
  }
}

// Whether creating a context could wait on an X display past the deadline: libpulse
// reads the root window of DISPLAY's display as it creates one, libpulse 16 only in a
// session over SSH (SSH_CONNECTION set), older ones may whenever DISPLAY is set. The
// environment is read as libpulse reads it.
bool DisplayHoldsUp(const PulseApi& api, std::chrono::steady_clock::time_point deadline) {
  const char* display = std::getenv("DISPLAY");  // NOLINT(concurrency-mt-unsafe): read only
  if (display == nullptr || display[0] == '\0') return false;
  const bool overSsh = std::getenv("SSH_CONNECTION") != nullptr;  // NOLINT(concurrency-mt-unsafe)
  if (!overSsh && std::strtol(api.pa_get_library_version(), nullptr, 10) >= 16) return false;
  return !XDisplay::AnswersBy(display, deadline);
}

}  // namespace

const char* WhyNotListed(const pa_source_info& source) {
  if (source.monitor_of_sink != PA_INVALID_INDEX) return "the monitor of a sink";
  // Ports whose availability the server cannot tell count as plugged.
  pa_source_port_info* const* ports = source.ports;
  const bool plugged =
      source.n_ports == 0 ||
      std::any_of(ports, ports + source.n_ports, [](const pa_source_port_info* port) {
        return port == nullptr || port->available != PA_PORT_AVAILABLE_NO;
      });
  return plugged ? nullptr : "every port unplugged";
}

Listing EnumCaptureDevices(DeviceInfoList& list) {
  list.clear();
  const auto deadline = std::chrono::steady_clock::now() + kDeadline;
  ScopedLibrary library;
  PulseApi api;
  if (!LoadPulse(library, api)) {
    Log(kLogLevelVerbose, "%s - libpulse.so.0 is not usable", kEnumName);
    return Listing::kNoServer;
  }
  if (DisplayHoldsUp(api, deadline)) {
    Log(kLogLevelVerbose, "%s - the X display that libpulse reads does not answer", kEnumName);
    return Listing::kNoServer;
  }
  // Declared in the order of their dependence: the operation goes first, the library last.
  const PulseOwner<pa_mainloop> mainloop(api, api.pa_mainloop_new());
  if (mainloop.get() == nullptr) {
    Log(kLogLevelVerbose, "%s - no libpulse main loop", kEnumName);
    return Listing::kNoServer;
  }
  const PulseOwner<pa_context> context(
      api, api.pa_context_new(api.pa_mainloop_get_api(mainloop.get()), "kestrelCliLib"));
  if (context.get() == nullptr ||
      api.pa_context_connect(context.get(), nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
    Log(kLogLevelVerbose, "%s - no sound server to connect to", kEnumName);
    return Listing::kNoServer;
  }
  Collected collected;
  collected.list = &list;
  PulseOwner<pa_operation> listing(api, nullptr);
  while (!collected.done) {
    const pa_context_state_t state = api.pa_context_get_state(context.get());
    if (!PA_CONTEXT_IS_GOOD(state)) {
      Log(kLogLevelVerbose, "%s - the sound server refused or went away", kEnumName);
      break;
    }
    if (state == PA_CONTEXT_READY && listing.get() == nullptr) {
      listing.Reset(api.pa_context_get_source_info_list(context.get(), &OnSource, &collected));
      if (listing.get() == nullptr) {
        Log(kLogLevelVerbose, "%s - the sound server took no listing", kEnumName);
        break;
      }
    }
    const int left = TimeLeft<std::chrono::microseconds>(deadline);
    if (left == 0) {
      Log(kLogLevelVerbose, "%s - no answer from the sound server in time", kEnumName);
      break;
    }
    if (api.pa_mainloop_prepare(mainloop.get(), left) < 0 ||
        api.pa_mainloop_poll(mainloop.get()) < 0 || api.pa_mainloop_dispatch(mainloop.get()) < 0) {
      Log(kLogLevelVerbose, "%s - the libpulse main loop failed", kEnumName);
      break;
    }
  }
  if (collected.failed) Log(kLogLevelError, "%s - memory ran out while listing", kEnumName);
  if (collected.failed || !collected.answered) {
    list.clear();
    return collected.failed ? Listing::kFailed : Listing::kNoServer;
  }
  Log(kLogLevelVerbose, "%s - %zu microphones", kEnumName, list.size());
  return Listing::kListed;
}

struct Subscription::Connection {
  ScopedLibrary library;
  PulseApi api;
  // Declared in the order of their dependence, as in a listing.
  std::unique_ptr<PulseOwner<pa_mainloop>> mainloop;
  std::unique_ptr<PulseOwner<pa_context>> context;
  int epollFd = -1;
  std::uint64_t tag = 0;
  std::vector<pollfd> registered;  // libpulse's descriptors as the epoll set holds them
  int timeoutMs = -1;
  bool subscribed = false;
  bool changed = false;
  bool blocking = false;  // the poll waits as libpulse asks (only while setting up or ending)

  Connection() = default;
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;
  Connection(Connection&&) = delete;
  Connection& operator=(Connection&&) = delete;

  ~Connection() {
    // libpulse loses the descriptors of the shared ring it sets up when a connection ends
    // half-way through its set-up: the set-up is let finish first.
    if (context && context->get() != nullptr) FinishSetUp(std::chrono::milliseconds(150));
    // Out of the set before libpulse closes them, so that a number reused meanwhile is
    // never taken for one of them.
    for (const pollfd& entry : registered) epoll_ctl(epollFd, EPOLL_CTL_DEL, entry.fd, nullptr);
    context.reset();
    mainloop.reset();
  }

  // Runs the main loop, waiting as libpulse asks, until the connection is ready or has
  // failed, or the time given has passed.
  void FinishSetUp(std::chrono::milliseconds within) {
    const auto until = std::chrono::steady_clock::now() + within;
    blocking = true;
    for (;;) {
      const pa_context_state_t state = api.pa_context_get_state(context->get());
      const int left = TimeLeft<std::chrono::microseconds>(until);
      if (state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state) || left == 0 ||
          api.pa_mainloop_prepare(mainloop->get(), left) < 0 ||
          api.pa_mainloop_poll(mainloop->get()) < 0 ||
          api.pa_mainloop_dispatch(mainloop->get()) < 0) {
        break;
      }
    }
    blocking = false;
  }

  void Register(int operation, const pollfd& entry) const {
    epoll_event event{};
    event.events = ((entry.events & POLLIN) != 0 ? EPOLLIN : 0U) |
                   ((entry.events & POLLOUT) != 0 ? EPOLLOUT : 0U);
    event.data.u64 = tag;
    epoll_ctl(epollFd, operation, entry.fd, &event);
  }

  // libpulse's poll: the descriptors it waits on go into the epoll set (which is where
  // this thread waits), the wait it asks for is noted, and the poll itself never waits.
  static int Poll(pollfd* fds, unsigned long count, int timeout, void* userdata) {
    auto* self = static_cast<Connection*>(userdata);
    self->timeoutMs = timeout;
    // A descriptor libpulse is not waiting on stays out: epoll would report its hang-up
    // forever, and nothing here would take it away.
    std::vector<pollfd> wanted;
    std::copy_if(fds, fds + count, std::back_inserter(wanted),
                 [](const pollfd& entry) { return entry.events != 0; });
    for (const pollfd& old : self->registered) {
      const bool kept = std::any_of(wanted.begin(), wanted.end(),
                                    [&](const pollfd& entry) { return entry.fd == old.fd; });
      if (!kept) epoll_ctl(self->epollFd, EPOLL_CTL_DEL, old.fd, nullptr);
    }
    for (const pollfd& entry : wanted) {
      const auto old = std::find_if(self->registered.begin(), self->registered.end(),
                                    [&](const pollfd& known) { return known.fd == entry.fd; });
      if (old == self->registered.end()) {
        self->Register(EPOLL_CTL_ADD, entry);
      } else if (old->events != entry.events) {
        self->Register(EPOLL_CTL_MOD, entry);
      }
    }
    self->registered = wanted;
    return ::poll(fds, count, self->blocking ? timeout : 0);
  }

  // Runs inside libpulse: nothing may escape from here.
  static void OnEvent(pa_context* /*context*/, pa_subscription_event_type_t type,
                      std::uint32_t index, void* userdata) {
    const unsigned facility = type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK;
    Log(kLogLevelVerbose, "%s - event 0x%x on %s %u", "SoundServer::Subscription",
        static_cast<unsigned>(type),
        facility == PA_SUBSCRIPTION_EVENT_SERVER ? "the server" : "source",
        static_cast<unsigned>(index));
    static_cast<Connection*>(userdata)->changed = true;
  }
};

Subscription::Subscription(std::unique_ptr<Connection> connection) noexcept
    : connection_(std::move(connection)) {}
Subscription::~Subscription() = default;

std::unique_ptr<Subscription> Subscription::Start(int epollFd, std::uint64_t tag) {
  auto connection = std::make_unique<Connection>();
  Connection& c = *connection;
  c.epollFd = epollFd;
  c.tag = tag;
  if (!LoadPulse(c.library, c.api) ||
      DisplayHoldsUp(c.api, std::chrono::steady_clock::now() + kDeadline)) {
    return nullptr;
  }
  c.mainloop = std::make_unique<PulseOwner<pa_mainloop>>(c.api, c.api.pa_mainloop_new());
  if (c.mainloop->get() == nullptr) return nullptr;
  c.api.pa_mainloop_set_poll_func(c.mainloop->get(), &Connection::Poll, &c);
  c.context = std::make_unique<PulseOwner<pa_context>>(
      c.api, c.api.pa_context_new(c.api.pa_mainloop_get_api(c.mainloop->get()), "kestrelCliLib"));
  if (c.context->get() == nullptr ||
      c.api.pa_context_connect(c.context->get(), nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
    return nullptr;
  }
  // The set-up is waited for: libpulse (16) spins for ever when a server goes away while
  // the shared ring it offers at set-up is still being switched to.
  c.FinishSetUp(std::chrono::milliseconds(500));
  std::unique_ptr<Subscription> subscription(new Subscription(std::move(connection)));
  // The first turn puts the sockets into the set; its news is the next Run's.
  const News first = subscription->Run();
  if (first == News::kGone) return nullptr;
  subscription->connection_->changed = first == News::kChanged;
  return subscription;
}

Subscription::News Subscription::Run() {
  Connection& c = *connection_;
  pa_mainloop* mainloop = c.mainloop->get();
  pa_context* context = c.context->get();
  // A few turns: what one dispatch answers may already be waiting for the next.
  for (int turn = 0; turn < 8; ++turn) {
    if (c.api.pa_mainloop_prepare(mainloop, -1) < 0 || c.api.pa_mainloop_poll(mainloop) < 0) {
      return News::kGone;
    }
    const int dispatched = c.api.pa_mainloop_dispatch(mainloop);
    if (dispatched < 0) return News::kGone;
    if (dispatched == 0) break;
  }
  const pa_context_state_t state = c.api.pa_context_get_state(context);
  if (!PA_CONTEXT_IS_GOOD(state)) return News::kGone;
  if (state == PA_CONTEXT_READY && !c.subscribed) {
    c.api.pa_context_set_subscribe_callback(context, &Connection::OnEvent, &c);
    pa_operation* operation =
        c.api.pa_context_subscribe(context,
                                   static_cast<pa_subscription_mask_t>(PA_SUBSCRIPTION_MASK_SOURCE |
                                                                       PA_SUBSCRIPTION_MASK_SERVER),
                                   nullptr, nullptr);
    if (operation == nullptr) return News::kGone;
    c.api.pa_operation_unref(operation);
    c.subscribed = true;
    c.changed = true;  // what came before the subscription is seen by a listing
  }
  return std::exchange(c.changed, false) ? News::kChanged : News::kNone;
}

int Subscription::TimeoutMs() const noexcept { return connection_->timeoutMs; }

}  // namespace SoundServer
