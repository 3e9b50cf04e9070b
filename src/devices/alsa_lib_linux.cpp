// ALSA's capture PCMs from its name hints, through libasound.so.2 loaded at run time.
#include "devices/alsa_lib_linux.h"

#include <alsa/asoundlib.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <string>
#include <string_view>

#include "core/utf8.h"
#include "log/log.h"

// Every libasound function used, resolved from the loaded library: declared by alsa-lib's
// headers, never linked.
// clang-format off
#define KESTREL_ALSA_FUNCTIONS(X) \
  X(snd_device_name_hint) \
  X(snd_device_name_get_hint) \
  X(snd_device_name_free_hint) \
  X(snd_lib_error_set_local) \
  X(snd_config_update_free_global)
// clang-format on

struct AlsaApi {
  // The name follows "::" here, where parentheses cannot go.
  // NOLINTNEXTLINE(bugprone-macro-parentheses)
#define KESTREL_DECLARE(name) decltype(&::name) name = nullptr;
  KESTREL_ALSA_FUNCTIONS(KESTREL_DECLARE)
#undef KESTREL_DECLARE
};

namespace {

constexpr char kSoname[] = "libasound.so.2";
constexpr char kEnumName[] = "AlsaLib::EnumCaptureDevices";

// Plug-ins and aliases that ALSA's own and its plug-in packages' configurations define on
// every machine, none of them a microphone of its own: the default device and its
// aliases, the plumbing plug-ins, the sound servers' bridges (their microphones come
// through the server), speaker layouts and digital outputs, modem lines, and the rate
// converters and effects. A trailing '*' stands for any ending (surround51, lavrate_fast).
constexpr std::string_view kGenericPcms[] = {
    "default", "sysdefault", "null",      "hw",        "plughw",   "plug",        "dmix",
    "dsnoop",  "dshare",     "asym",      "route",     "rate",     "linear",      "shm",
    "tee",     "file",       "pulse",     "pipewire",  "jack",     "oss",         "front",
    "rear",    "center_lfe", "side",      "surround*", "iec958",   "spdif",       "hdmi",
    "dpl*",    "modem",      "phoneline", "usbstream", "lavrate*", "samplerate*", "speexrate*",
    "speex",   "upmix",      "vdownmix",  "a52"};

// Plug-ins whose DEV argument is the card's hardware device number: their hints name the
// card device itself, which is listed as hw:CARD=<id>,DEV=<n>. Other plug-ins' card forms
// (front, hdmi, iec958...) number their devices their own way, or are outputs.
constexpr std::string_view kCardDevicePcms[] = {"hw", "plughw", "dsnoop"};

bool IsGeneric(std::string_view plugin) {
  for (const std::string_view generic : kGenericPcms) {
    if (generic.back() == '*'
            ? plugin.substr(0, generic.size() - 1) == generic.substr(0, generic.size() - 1)
            : plugin == generic) {
      return true;
    }
  }
  return false;
}

// The value of KEY=value among comma-separated arguments; empty when absent.
std::string_view Argument(std::string_view arguments, std::string_view key) {
  while (!arguments.empty()) {
    const std::string_view argument = arguments.substr(0, arguments.find(','));
    if (argument.size() > key.size() && argument.substr(0, key.size()) == key &&
        argument[key.size()] == '=') {
      return argument.substr(key.size() + 1);
    }
    arguments.remove_prefix(std::min(arguments.size(), argument.size() + 1));
  }
  return {};
}

// The id a hint's PCM is listed under; empty, with why not, when it is not listed.
std::string CaptureId(std::string_view name, const char** whyNot) {
  const std::size_t colon = name.find(':');
  const std::string_view plugin = name.substr(0, colon);
  if (colon != std::string_view::npos) {
    for (const std::string_view cardPlugin : kCardDevicePcms) {
      if (plugin != cardPlugin) continue;
      const std::string_view arguments = name.substr(colon + 1);
      const std::string_view card = Argument(arguments, "CARD");
      const std::string_view device = Argument(arguments, "DEV");
      if (card.empty() || device.empty()) {
        *whyNot = "a card without a device number";
        return {};
      }
      return "hw:CARD=" + std::string(card) + ",DEV=" + std::string(device);
    }
  }
  if (IsGeneric(plugin)) {
    *whyNot = "a generic plug-in or alias";
    return {};
  }
  return std::string(name);
}

// alsa-lib's messages for the calling thread, into the log instead of stderr.
void LogAlsaMessage(const char* file, int line, const char* function, int error, const char* format,
                    va_list args) {
  char text[512];
  if (std::vsnprintf(text, sizeof text, format, args) < 0) text[0] = '\0';
  Log(kLogLevelVerbose, "%s - alsa-lib %s:%d %s: %s (%d)", kEnumName, file != nullptr ? file : "",
      line, function != nullptr ? function : "", text, error);
}

// Holds the thread's own alsa-lib message handler for one scope; the process-wide one
// belongs to the host and is never touched.
class QuietMessages {
 public:
  explicit QuietMessages(const AlsaApi& api) noexcept
      : api_(api), previous_(api.snd_lib_error_set_local(&LogAlsaMessage)) {}
  ~QuietMessages() { api_.snd_lib_error_set_local(previous_); }
  QuietMessages(const QuietMessages&) = delete;
  QuietMessages& operator=(const QuietMessages&) = delete;
  QuietMessages(QuietMessages&&) = delete;
  QuietMessages& operator=(QuietMessages&&) = delete;

 private:
  const AlsaApi& api_;
  snd_local_error_handler_t previous_;
};

// The hint array of one snd_device_name_hint call.
class NameHints {
 public:
  NameHints(const AlsaApi& api, void** hints) noexcept : api_(api), hints_(hints) {}
  ~NameHints() {
    if (hints_ != nullptr) api_.snd_device_name_free_hint(hints_);
  }
  NameHints(const NameHints&) = delete;
  NameHints& operator=(const NameHints&) = delete;
  NameHints(NameHints&&) = delete;
  NameHints& operator=(NameHints&&) = delete;

 private:
  const AlsaApi& api_;
  void** hints_;
};

// A text snd_device_name_get_hint allocated (null when the hint has no such field).
struct FreeText {
  void operator()(char* text) const noexcept { std::free(text); }
};
using HintText = std::unique_ptr<char, FreeText>;

}  // namespace

RwLock AlsaLib::lock_;
AlsaLib* AlsaLib::instance_ = nullptr;
std::int32_t AlsaLib::referenceCount_ = 0;

AlsaLib::AlsaLib() = default;

// Runs under lock_ only: from UninitInstance, or from InitInstance after a failed load.
// alsa-lib keeps the configuration it read and, in a cache, a handle on each plug-in it
// opened (on itself for its built-in ones, as for a sound card's control while it lists):
// with them it would stay loaded after the dlclose, so both are freed first. alsa-lib's
// own users hold references on the configuration and the plug-ins they have open, which
// stay. A copy that was in the process before this instance is the host's, and so is its
// configuration: it is left alone.
AlsaLib::~AlsaLib() {
  if (api_ != nullptr && !sharedWithHost_) api_->snd_config_update_free_global();
}

bool AlsaLib::InitInstance() {
  const ExclusiveHold hold(lock_);
  if (referenceCount_ == 0) {
    // Published only once loaded: a failure (or an exception) leaves no instance behind.
    std::unique_ptr<AlsaLib> instance(new AlsaLib());
    if (!LoadLocked(*instance)) return false;
    instance_ = instance.release();
  }
  ++referenceCount_;
  Log(kLogLevelTrivia, "%s - reference taken, count %d%s", "AlsaLib::InitInstance",
      static_cast<int>(referenceCount_), referenceCount_ == 1 ? ": libasound.so.2 loaded" : "");
  return true;
}

void AlsaLib::UninitInstance() noexcept {
  const ExclusiveHold hold(lock_);
  if (referenceCount_ == 0) return;
  if (--referenceCount_ == 0) {
    delete instance_;
    instance_ = nullptr;
  }
  Log(kLogLevelTrivia, "%s - reference released, count %d%s", "AlsaLib::UninitInstance",
      static_cast<int>(referenceCount_), referenceCount_ == 0 ? ": libasound.so.2 closed" : "");
}

bool AlsaLib::LoadLocked(AlsaLib& instance) {
  // Each piece goes into a local owner first and into the instance only when all are there.
  const bool sharedWithHost = static_cast<bool>(ScopedLibrary(kSoname, RTLD_NOW | RTLD_NOLOAD));
  ScopedLibrary library(kSoname, RTLD_NOW | RTLD_LOCAL);
  if (!library) {
    Log(kLogLevelError, "%s - %s cannot be loaded", "AlsaLib::InitInstance", kSoname);
    return false;
  }
  auto api = std::make_unique<AlsaApi>();
  bool resolved = true;
#define KESTREL_RESOLVE(name) resolved = library.Resolve(#name, api->name) && resolved;
  KESTREL_ALSA_FUNCTIONS(KESTREL_RESOLVE)
#undef KESTREL_RESOLVE
  if (!resolved) {
    Log(kLogLevelError, "%s - %s lacks a function", "AlsaLib::InitInstance", kSoname);
    return false;
  }
  if (sharedWithHost) {
    Log(kLogLevelVerbose, "%s - %s was loaded already: its configuration stays",
        "AlsaLib::InitInstance", kSoname);
  }
  instance.library_ = std::move(library);
  instance.api_ = std::move(api);
  instance.sharedWithHost_ = sharedWithHost;
  return true;
}

bool AlsaLib::EnumCaptureDevices(DeviceInfoList& list) {
  list.clear();
  const SharedHold hold(lock_);
  if (instance_ == nullptr) {
    Log(kLogLevelError, "%s - no ALSA instance", kEnumName);
    return false;
  }
  return EnumCaptureDevicesLocked(*instance_, list);
}

bool AlsaLib::EnumCaptureDevicesLocked(const AlsaLib& instance, DeviceInfoList& list) {
  const AlsaApi& api = *instance.api_;
  const QuietMessages quiet(api);
  void** hints = nullptr;
  const int error = api.snd_device_name_hint(-1, "pcm", &hints);
  const NameHints owner(api, error < 0 ? nullptr : hints);
  if (error < 0 || hints == nullptr) {
    // An unreadable configuration has no devices: the listing itself worked.
    Log(kLogLevelError, "%s - no name hints (%d): alsa-lib cannot read its configuration",
        kEnumName, error);
    return true;
  }
  for (void** hint = hints; *hint != nullptr; ++hint) {
    const HintText name(api.snd_device_name_get_hint(*hint, "NAME"));
    const HintText description(api.snd_device_name_get_hint(*hint, "DESC"));
    const HintText ioid(api.snd_device_name_get_hint(*hint, "IOID"));
    if (name != nullptr) AddHint(list, name.get(), description.get(), ioid.get());
  }
  Log(kLogLevelVerbose, "%s - %zu microphones", kEnumName, list.size());
  return true;
}

void AlsaLib::AddHint(DeviceInfoList& list, const char* name, const char* description,
                      const char* ioid) {
  const char* whyNot = nullptr;
  std::string id;
  // A null IOID is a PCM of both directions.
  if (ioid != nullptr && std::string_view(ioid) == "Output") {
    whyNot = "output only";
  } else {
    id = CaptureId(name, &whyNot);
  }
  DeviceInfo device;
  if (whyNot == nullptr) {
    device.path = ConvertUtf8ToWide(id.c_str());
    if (std::any_of(list.begin(), list.end(),
                    [&device](const DeviceInfo& listed) { return listed.path == device.path; })) {
      whyNot = "a card device listed already";
    }
  }
  Log(kLogLevelTrivia, "%s - PCM '%s': %s%s", kEnumName, name,
      whyNot != nullptr ? "not listed, " : "listed as ", whyNot != nullptr ? whyNot : id.c_str());
  if (whyNot != nullptr) return;
  const std::string_view text = description != nullptr ? description : "";
  const std::string firstLine(text.substr(0, text.find('\n')));
  device.name = firstLine.empty() ? device.path : ConvertUtf8ToWide(firstLine.c_str());
  device.id = device.path;
  device.index = static_cast<std::uint32_t>(list.size());
  device.number = device.index;
  list.push_back(std::move(device));
}
