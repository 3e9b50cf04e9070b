// Windows: one manual-reset event is the descriptor. The audio endpoints' notification client
// and the device-interface notifications for webcams (cfgmgr32's CM_Register_Notification,
// found at run time) only note the kind and set it, on the system's threads; where the system
// has no such notifications (Wine), a pool timer sets it every 500 ms so that the webcams are
// listed again. The caller's settling time is a pool timer too. No lock, no call back into
// the system from a notification.
#include "devices/device_events.h"

#include <windows.h>
#include <mmdeviceapi.h>
#include <wrl/client.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <new>
#include <utility>

#include "core/com_apartment.h"
#include "core/scoped_handle_win.h"
#include "devices/platform_ids.h"
#include "kestrelCliLib.h"
#include "log/log.h"

using Microsoft::WRL::ComPtr;

namespace {

constexpr char kLogName[] = "DeviceEvents";
constexpr DWORD kVideoListingMs = 500;  // where the system tells nothing of webcams

// What the notifications share with the waiting call: it outlives every registration (each
// holds a reference), so a notification still in flight as one ends finds it.
struct Signal {
  HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);  // not inheritable
  std::atomic<std::uint32_t> kinds{0};
  std::atomic<bool> settled{false};
  ~Signal() {
    if (event != nullptr) CloseHandle(event);
  }
  Signal() = default;
  Signal(const Signal&) = delete;
  Signal& operator=(const Signal&) = delete;
  Signal(Signal&&) = delete;
  Signal& operator=(Signal&&) = delete;
  void Note(std::uint32_t kind) {
    kinds.fetch_or(kind);
    SetEvent(event);
  }
};

// Core Audio calls it on its own threads: it notes and signals, nothing else. Deleted by
// its last Release, never directly.
// NOLINTNEXTLINE(cppcoreguidelines-virtual-class-destructor)
class EndpointClient final : public IMMNotificationClient {
 public:
  explicit EndpointClient(std::shared_ptr<Signal> signal) : signal_(std::move(signal)) {}
  EndpointClient(const EndpointClient&) = delete;
  EndpointClient& operator=(const EndpointClient&) = delete;
  EndpointClient(EndpointClient&&) = delete;
  EndpointClient& operator=(EndpointClient&&) = delete;
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (out == nullptr) return E_POINTER;
    if (IsEqualIID(iid, kUnknownIid) || IsEqualIID(iid, kMMNotificationClientIid)) {
      *out = static_cast<IMMNotificationClient*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --references_;
    if (left == 0) delete this;
    return left;
  }
  HRESULT STDMETHODCALLTYPE OnDeviceStateChanged(LPCWSTR /*id*/, DWORD /*state*/) override {
    return Note();
  }
  HRESULT STDMETHODCALLTYPE OnDeviceAdded(LPCWSTR /*id*/) override { return Note(); }
  HRESULT STDMETHODCALLTYPE OnDeviceRemoved(LPCWSTR /*id*/) override { return Note(); }
  HRESULT STDMETHODCALLTYPE OnDefaultDeviceChanged(EDataFlow /*flow*/, ERole /*role*/,
                                                   LPCWSTR /*id*/) override {
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE OnPropertyValueChanged(LPCWSTR /*id*/,
                                                   const PROPERTYKEY /*key*/) override {
    return Note();  // a name may have changed
  }

 private:
  ~EndpointClient() = default;
  HRESULT Note() {
    signal_->Note(MMDR_WATCH_AUDIO);
    return S_OK;
  }
  std::shared_ptr<Signal> signal_;
  std::atomic<ULONG> references_{1};
};

// cfgmgr32's device-interface notifications as Windows 8 and later declare them (this
// library's headers target Windows 7, where the functions are absent).
struct InterfaceFilter {
  DWORD size = sizeof(InterfaceFilter);
  DWORD flags = 0;
  DWORD type = 0;  // CM_NOTIFY_FILTER_TYPE_DEVICEINTERFACE
  DWORD reserved = 0;
  union {
    GUID interfaceClass;
    WCHAR instanceId[200];  // the largest member, which sets the size
  } u{};
};
using InterfaceCallback = DWORD(CALLBACK*)(HANDLE notification, PVOID context, DWORD action,
                                           void* data, DWORD size);
using RegisterFunction = DWORD(WINAPI*)(InterfaceFilter* filter, PVOID context,
                                        InterfaceCallback callback, HANDLE* notification);
using UnregisterFunction = DWORD(WINAPI*)(HANDLE notification);
constexpr DWORD kConfigSuccess = 0;  // CR_SUCCESS

DWORD CALLBACK OnInterface(HANDLE /*notification*/, PVOID context, DWORD /*action*/, void* /*data*/,
                           DWORD /*size*/) {
  static_cast<Signal*>(context)->Note(MMDR_WATCH_VIDEO);
  return ERROR_SUCCESS;
}

VOID CALLBACK OnTimer(PTP_CALLBACK_INSTANCE /*instance*/, PVOID context, PTP_TIMER /*timer*/) {
  static_cast<Signal*>(context)->settled.store(true);
  SetEvent(static_cast<Signal*>(context)->event);
}

VOID CALLBACK OnVideoTick(PTP_CALLBACK_INSTANCE /*instance*/, PVOID context, PTP_TIMER /*timer*/) {
  static_cast<Signal*>(context)->Note(MMDR_WATCH_VIDEO);
}

// A pool timer that is stopped, and waited for, before it goes.
struct PoolTimer {
  PTP_TIMER timer = nullptr;
  PoolTimer() = default;
  PoolTimer(const PoolTimer&) = delete;
  PoolTimer& operator=(const PoolTimer&) = delete;
  PoolTimer(PoolTimer&&) = delete;
  PoolTimer& operator=(PoolTimer&&) = delete;
  ~PoolTimer() {
    if (timer == nullptr) return;
    SetThreadpoolTimer(timer, nullptr, 0, 0);
    WaitForThreadpoolTimerCallbacks(timer, TRUE);
    CloseThreadpoolTimer(timer);
  }
};

}  // namespace

struct DeviceEvents::Platform {
  std::shared_ptr<Signal> signal = std::make_shared<Signal>();
  std::atomic<bool> interrupted{false};
  std::uint32_t followed = 0;
  PoolTimer settle, videoTick;  // each holds a pointer to *signal: declared after it
  ComPtr<IMMDeviceEnumerator> endpoints;
  IMMNotificationClient* client = nullptr;
  ScopedModule configManager;  // freed after the body below has unregistered
  UnregisterFunction unregister = nullptr;
  HANDLE interfaces[2] = {};

  Platform() = default;
  Platform(const Platform&) = delete;
  Platform& operator=(const Platform&) = delete;
  Platform(Platform&&) = delete;
  Platform& operator=(Platform&&) = delete;
  ~Platform() {
    // Unregistering waits for a notification in flight; ours take no lock, so it returns.
    for (HANDLE registration : interfaces) {
      if (registration != nullptr) unregister(registration);
    }
    if (client != nullptr) {
      const CCoInitialize apartment;
      endpoints->UnregisterEndpointNotificationCallback(client);
      client->Release();
      endpoints.Reset();
    }
  }

  void FollowAudio() {
    const CCoInitialize apartment;
    if (FAILED(CoCreateInstance(kMMDeviceEnumeratorClsid, nullptr, CLSCTX_ALL,
                                kMMDeviceEnumeratorIid,
                                reinterpret_cast<void**>(endpoints.GetAddressOf())))) {
      Log(kLogLevelError, "%s - no audio endpoint enumerator", kLogName);
      return;
    }
    auto* created = new (std::nothrow) EndpointClient(signal);
    if (created == nullptr) return;
    if (FAILED(endpoints->RegisterEndpointNotificationCallback(created))) {
      Log(kLogLevelError, "%s - the endpoint notifications refused the client", kLogName);
      created->Release();
      endpoints.Reset();
      return;
    }
    client = created;
    Log(kLogLevelVerbose, "%s - following the audio endpoints", kLogName);
  }

  void FollowVideo() {
    configManager.Reset(LoadLibraryExW(L"cfgmgr32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32));
    const auto find = [this](const char* name) {
      return configManager ? reinterpret_cast<void*>(GetProcAddress(configManager.get(), name))
                           : nullptr;
    };
    auto registerFunction = reinterpret_cast<RegisterFunction>(find("CM_Register_Notification"));
    unregister = reinterpret_cast<UnregisterFunction>(find("CM_Unregister_Notification"));
    bool registered = registerFunction != nullptr && unregister != nullptr;
    const GUID classes[2] = {kVideoCameraInterfaceClass, kVideoInterfaceClass};
    for (int i = 0; registered && i < 2; ++i) {
      InterfaceFilter filter;
      filter.u.interfaceClass = classes[i];
      registered =
          registerFunction(&filter, signal.get(), &OnInterface, &interfaces[i]) == kConfigSuccess;
    }
    if (registered) {
      Log(kLogLevelVerbose, "%s - following the webcams' device interfaces", kLogName);
      return;
    }
    // Without them: the webcams are listed again at a bounded pace.
    Log(kLogLevelVerbose, "%s - no device-interface notifications: webcams listed every %u ms",
        kLogName, static_cast<unsigned>(kVideoListingMs));
    videoTick.timer = CreateThreadpoolTimer(&OnVideoTick, signal.get(), nullptr);
    if (videoTick.timer != nullptr) {
      FILETIME due{};
      const LONGLONG relative = -static_cast<LONGLONG>(kVideoListingMs) * 10000;
      due.dwLowDateTime = static_cast<DWORD>(relative);
      due.dwHighDateTime = static_cast<DWORD>(relative >> 32);
      SetThreadpoolTimer(videoTick.timer, &due, kVideoListingMs, 0);
    }
  }
};

DeviceEvents::DeviceEvents(std::unique_ptr<Platform> platform) noexcept
    : platform_(std::move(platform)) {}
DeviceEvents::~DeviceEvents() = default;

std::unique_ptr<DeviceEvents> DeviceEvents::Create() {
  auto platform = std::make_unique<Platform>();
  platform->settle.timer = CreateThreadpoolTimer(&OnTimer, platform->signal.get(), nullptr);
  if (platform->signal->event == nullptr || platform->settle.timer == nullptr) {
    Log(kLogLevelError, "%s - no event for a watch (error %u)", kLogName,
        static_cast<unsigned>(GetLastError()));
    return nullptr;
  }
  return std::unique_ptr<DeviceEvents>(new DeviceEvents(std::move(platform)));
}

std::intptr_t DeviceEvents::Descriptor() const noexcept {
  return reinterpret_cast<std::intptr_t>(platform_->signal->event);
}

void DeviceEvents::Follow(std::uint32_t kinds) {
  Platform& p = *platform_;
  kinds &= ~p.followed;
  if ((kinds & MMDR_WATCH_VIDEO) != 0) p.FollowVideo();
  if ((kinds & MMDR_WATCH_AUDIO) != 0) p.FollowAudio();
  p.followed |= kinds;
}

std::uint32_t DeviceEvents::Wait(Clock::time_point until) {
  Platform& p = *platform_;
  Signal& signal = *p.signal;
  for (;;) {
    if (p.interrupted.load()) return 0;
    // Reset before the notes are taken, so that a note made meanwhile sets it again.
    ResetEvent(signal.event);
    const std::uint32_t kinds = signal.kinds.exchange(0);
    if (kinds != 0 || signal.settled.exchange(false)) return kinds;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - Clock::now());
    if (left.count() <= 0) return 0;
    const DWORD timeout = static_cast<DWORD>(std::min<std::int64_t>(left.count(), 0x7FFFFFFF));
    if (WaitForSingleObject(signal.event, timeout) != WAIT_OBJECT_0) {
      if (Clock::now() >= until) return 0;
    }
  }
}

void DeviceEvents::WakeAt(Clock::time_point when) {
  PTP_TIMER timer = platform_->settle.timer;
  if (when == Clock::time_point::max()) {
    SetThreadpoolTimer(timer, nullptr, 0, 0);
    return;
  }
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(when - Clock::now());
  const LONGLONG relative = -std::max<LONGLONG>(1, left.count()) * 10000;  // 100 ns, relative
  FILETIME due{};
  due.dwLowDateTime = static_cast<DWORD>(relative);
  due.dwHighDateTime = static_cast<DWORD>(relative >> 32);
  SetThreadpoolTimer(timer, &due, 0, 0);
}

void DeviceEvents::Interrupt() noexcept {
  platform_->interrupted.store(true);
  SetEvent(platform_->signal->event);
}

bool DeviceEvents::Interrupted() const noexcept { return platform_->interrupted.load(); }

void* DeviceEvents::EndpointClientForTesting() const noexcept { return platform_->client; }
