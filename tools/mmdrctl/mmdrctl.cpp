// mmdrctl: shows and changes what kestrelCliLib reports, through nothing but the
// library's exported interface. For support engineers (readable output) and scripts
// (--json, exit status). The same program on Windows and Linux: only loading the library
// and reading the command line differ (library_*.cpp, console_*.cpp).
#include <cstddef>
#include <cstdint>
#include <chrono>
#include <cstdio>
#include <exception>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "command_line.h"
#include "console.h"
#include "kestrelCliLib.h"
#include "library.h"
#include "text_output.h"

namespace mmdrctl {
namespace {

const char kUsage[] =
    "Usage: mmdrctl [--json] [--dll PATH] [--log LEVEL] COMMAND [ARGUMENTS]\n"
    "\n"
    "Shows and changes what kestrelCliLib reports about this machine's webcams\n"
    "(video) and microphones (audio), through the library's exported interface only.\n"
    "\n"
    "Commands:\n"
    "  list video|audio          the devices present now: index, display name, id\n"
    "  get-pref video|audio      the preferred device of a kind, as present now\n"
    "  set-pref video|audio [--id ID] [--name NAME]\n"
    "                            store the current user's preferred device; a missing\n"
    "                            --id or --name stores an empty text (a microphone's\n"
    "                            name is kept only together with a non-empty id)\n"
    "  set-pref video|audio --device NAME\n"
    "                            store the first present device with this display name\n"
    "  get-option                the current user's audio-in selection option\n"
    "  set-option 0|1|2          store the audio-in selection option\n"
    "  status                    interface version and whether the feature is enabled\n"
    "  watch [video|audio|all] [--count N] [--timeout SECONDS]\n"
    "                            the devices present (\"=\"), then each device added\n"
    "                            (\"+\") or removed (\"-\") as it happens, one line each:\n"
    "                            sign, kind, id, name (tab-separated); until N changes\n"
    "                            or SECONDS have passed, or Ctrl-C (exit 130); all\n"
    "                            kinds when none is given\n"
    "\n"
    "Options:\n"
    "  --json       print one JSON object on standard output (texts are escaped ASCII)\n"
    "  --dll PATH   load this library file instead of the one that belongs to mmdrctl\n"
    "  --log LEVEL  show the library's own log lines of this run on standard error:\n"
    "               error (its failures), info (and what it found) or debug (and\n"
    "               every decision with its reason); the same as KESTREL_LOG=LEVEL\n"
    "  --help       show this text\n"
    "\n"
    "Exit status: 0 success, 1 a library call failed (or the stored option is out of\n"
    "range), 2 bad arguments, 3 the library could not be loaded, 130 watch ended by\n"
    "Ctrl-C.\n";

// What a command runs with: its arguments checked and a handle open.
struct Context {
  const MmdrApi& api;
  const Options& options;
  MmdrDeviceKind kind;  // for the commands that take one
  const Arguments& arguments;
  MmdrHandle* handle;
};

const char* KindWord(MmdrDeviceKind kind) { return kind == MMDR_DEVICE_VIDEO ? "video" : "audio"; }

struct Device {
  std::string id;
  std::string name;
};

// The two-call pattern: learn the count, then fetch; a device that arrives in between
// makes the second call ask for more room, so try again a few times.
MmdrResult EnumDevices(const MmdrApi& api, MmdrHandle* handle, MmdrDeviceKind kind,
                       std::vector<Device>& devices) {
  std::uint32_t count = 0;
  MmdrResult result = api.enumDevices(handle, kind, 0, nullptr, &count);
  for (int attempt = 0; attempt < 5 && result == MMDR_BUFFER_TOO_SMALL; ++attempt) {
    // Zero-filled, so that every field ends in a zero byte (the library never writes
    // a field's last byte).
    std::vector<MmdrDeviceEntry> entries(count, MmdrDeviceEntry{});
    const auto size = static_cast<std::uint32_t>(entries.size() * sizeof(MmdrDeviceEntry));
    result = api.enumDevices(handle, kind, size, entries.data(), &count);
    if (result == MMDR_OK) {
      devices.clear();
      for (std::uint32_t i = 0; i < count; ++i) {
        devices.push_back({FieldText(entries[i].id), FieldText(entries[i].name)});
      }
    }
  }
  if (result == MMDR_OK && count == 0) devices.clear();
  return result;
}

// ---- Commands -----------------------------------------------------------------------

int RunList(const Context& context) {
  std::vector<Device> devices;
  const MmdrResult result = EnumDevices(context.api, context.handle, context.kind, devices);
  if (result != MMDR_OK) return CallFailed("Mmdr_EnumDevices", result);

  const char* const kind = KindWord(context.kind);
  if (context.options.json) {
    PrintF("{\"kind\": \"%s\", \"count\": %zu, \"devices\": [", kind, devices.size());
    for (std::size_t i = 0; i < devices.size(); ++i) {
      PrintF("%s\n  {\"index\": %zu, \"id\": ", i == 0 ? "" : ",", i);
      Print(JsonString(devices[i].id));
      Print(", \"name\": ");
      Print(JsonString(devices[i].name));
      Print("}");
    }
    Print(devices.empty() ? "]}\n" : "\n]}\n");
    return kExitOk;
  }
  PrintF("%zu %s capture device%s\n", devices.size(), kind, devices.size() == 1 ? "" : "s");
  for (std::size_t i = 0; i < devices.size(); ++i) {
    PrintF("  [%zu] %s\n", i, DisplayText(devices[i].name).c_str());
    PrintF("      id: %s\n", DisplayText(devices[i].id).c_str());
  }
  return kExitOk;
}

// One field of the preferred device; nullopt when the library has none to give.
std::optional<std::string> PreferredField(const Context& context, MmdrPrefField field,
                                          MmdrResult& result) {
  char text[MMDR_TEXT_FIELD_SIZE] = {};
  result = context.api.getPrefDev(context.handle, context.kind, field, text);
  if (result != MMDR_OK) return std::nullopt;
  return FieldText(text);
}

int RunGetPref(const Context& context) {
  // Each call matches afresh; the two answers describe the same device unless the
  // devices changed in between.
  MmdrResult idResult = MMDR_OK;
  MmdrResult nameResult = MMDR_OK;
  const auto id = PreferredField(context, MMDR_PREF_ID, idResult);
  const auto name = PreferredField(context, MMDR_PREF_NAME, nameResult);
  for (MmdrResult result : {idResult, nameResult}) {
    if (result != MMDR_OK && result != MMDR_NO_DATA) return CallFailed("Mmdr_GetPrefDev", result);
  }
  const bool found = id || name;
  const char* const kind = KindWord(context.kind);
  if (context.options.json) {
    PrintF("{\"kind\": \"%s\", \"preferred\": ", kind);
    if (found) {
      Print("{\"id\": " + JsonString(id.value_or("")) +
            ", \"name\": " + JsonString(name.value_or("")) + "}");
    } else {
      Print("null");
    }
    Print("}\n");
    return kExitOk;
  }
  if (!found) {
    PrintF("No preferred %s device is present.\n", kind);
    return kExitOk;
  }
  PrintF("Preferred %s device\n", kind);
  PrintF("  name: %s\n", DisplayText(name.value_or("")).c_str());
  PrintF("  id:   %s\n", DisplayText(id.value_or("")).c_str());
  return kExitOk;
}

int RunSetPref(const Context& context) {
  std::optional<std::string> id = context.arguments.id;
  std::optional<std::string> name = context.arguments.name;
  const char* const kind = KindWord(context.kind);
  if (const auto& deviceName = context.arguments.deviceName) {
    std::vector<Device> devices;
    const MmdrResult result = EnumDevices(context.api, context.handle, context.kind, devices);
    if (result != MMDR_OK) return CallFailed("Mmdr_EnumDevices", result);
    for (const Device& device : devices) {
      if (device.name == *deviceName) {
        id = device.id;
        name = device.name;
        break;
      }
    }
    if (!name) {
      Error("no %s device named '%s' is present", kind, DisplayText(*deviceName).c_str());
      return kExitCallFailed;
    }
  }
  const MmdrResult result = context.api.setPrefDev(
      context.handle, context.kind, id ? id->c_str() : nullptr, name ? name->c_str() : nullptr);
  if (result != MMDR_OK) return CallFailed("Mmdr_SetPrefDev", result);
  if (context.options.json) {
    PrintF("{\"kind\": \"%s\", \"stored\": {\"id\": ", kind);
    Print(JsonString(id.value_or("")) + ", \"name\": " + JsonString(name.value_or("")) + "}}\n");
  } else {
    PrintF("Stored the preferred %s device\n", kind);
    PrintF("  name: %s\n", DisplayText(name.value_or("")).c_str());
    PrintF("  id:   %s\n", DisplayText(id.value_or("")).c_str());
  }
  return kExitOk;
}

int RunGetOption(const Context& context) {
  std::uint32_t option = 0;
  const MmdrResult result = context.api.getAudioInSelectOption(context.handle, &option);
  // MMDR_FAILED still delivers the number: show what is stored, then fail.
  if (result != MMDR_OK && result != MMDR_FAILED) {
    return CallFailed("Mmdr_GetAudioInSelectOption", result);
  }
  const bool valid = result == MMDR_OK;
  if (context.options.json) {
    PrintF("{\"option\": %lu, \"valid\": %s}\n", static_cast<unsigned long>(option),
           valid ? "true" : "false");
  } else {
    PrintF("Audio-in selection option: %lu\n", static_cast<unsigned long>(option));
  }
  if (!valid) {
    Error("the stored audio-in selection option %lu is outside 0..2",
          static_cast<unsigned long>(option));
    return kExitCallFailed;
  }
  return kExitOk;
}

int RunSetOption(const Context& context) {
  const std::uint32_t option = context.arguments.option;
  const MmdrResult result = context.api.setAudioInSelectOption(context.handle, option);
  if (result != MMDR_OK) return CallFailed("Mmdr_SetAudioInSelectOption", result);
  if (context.options.json) {
    PrintF("{\"option\": %lu}\n", static_cast<unsigned long>(option));
  } else {
    PrintF("Stored the audio-in selection option %lu\n", static_cast<unsigned long>(option));
  }
  return kExitOk;
}

int RunStatus(const Context& context) {
  const std::uint32_t version = context.api.getLibVersion();
  std::uint8_t enabled = 0;
  const MmdrResult result = context.api.isEnabled(context.handle, &enabled);
  if (result != MMDR_OK) return CallFailed("Mmdr_IsEnabled", result);
  if (context.options.json) {
    PrintF("{\"interfaceVersion\": %lu, \"headerVersion\": %d, \"enabled\": %s}\n",
           static_cast<unsigned long>(version), MMDR_LIB_VERSION, enabled ? "true" : "false");
  } else {
    PrintF("Interface version: %lu (mmdrctl built for %d)\n", static_cast<unsigned long>(version),
           MMDR_LIB_VERSION);
    PrintF("Feature: %s\n", enabled ? "enabled" : "disabled by the machine's \"IsDisabled\"");
  }
  return kExitOk;
}

// One device line of watch: sign, kind, id and name.
void PrintDevice(const Context& context, char sign, MmdrDeviceKind kind, const Device& device) {
  if (context.options.json) {
    const char* event = sign == '+' ? "added" : sign == '-' ? "removed" : "present";
    PrintF("{\"event\": \"%s\", \"kind\": \"%s\", \"id\": ", event, KindWord(kind));
    Print(JsonString(device.id) + ", \"name\": " + JsonString(device.name) + "}\n");
  } else {
    PrintF("%c %s\t%s\t%s\n", sign, KindWord(kind), DisplayText(device.id).c_str(),
           DisplayText(device.name).c_str());
  }
  static_cast<void>(std::fflush(stdout));
}

// Lists the kind again and prints what differs from before (which becomes the new list):
// the number of lines printed.
unsigned long PrintChanges(const Context& context, MmdrDeviceKind kind, std::vector<Device>& before,
                           MmdrResult& result) {
  std::vector<Device> now;
  result = EnumDevices(context.api, context.handle, kind, now);
  if (result != MMDR_OK) return 0;
  auto contains = [](const std::vector<Device>& list, const Device& device) {
    for (const Device& other : list) {
      if (other.id == device.id && other.name == device.name) return true;
    }
    return false;
  };
  unsigned long lines = 0;
  for (const Device& device : before) {
    if (!contains(now, device)) PrintDevice(context, '-', kind, device), ++lines;
  }
  for (const Device& device : now) {
    if (!contains(before, device)) PrintDevice(context, '+', kind, device), ++lines;
  }
  before = std::move(now);
  return lines;
}

int RunWatch(const Context& context) {
  using Clock = std::chrono::steady_clock;
  const Arguments& arguments = context.arguments;
  const std::optional<Clock::time_point> end =
      arguments.timeoutSeconds
          ? std::optional(Clock::now() + std::chrono::seconds(*arguments.timeoutSeconds))
          : std::nullopt;
  CatchInterrupt();
  std::vector<Device> devices[2];
  for (const MmdrDeviceKind kind : {MMDR_DEVICE_VIDEO, MMDR_DEVICE_AUDIO}) {
    if ((arguments.watchKinds & (1U << (kind - 1))) == 0) continue;
    const MmdrResult result = EnumDevices(context.api, context.handle, kind, devices[kind - 1]);
    if (result != MMDR_OK) return CallFailed("Mmdr_EnumDevices", result);
    for (const Device& device : devices[kind - 1]) PrintDevice(context, '=', kind, device);
  }
  unsigned long changes = 0;
  // Waits in short slices, so that Ctrl-C is seen soon.
  constexpr auto kSlice = std::chrono::milliseconds(250);
  while (!arguments.count || changes < *arguments.count) {
    if (Interrupted()) return kExitInterrupted;
    auto slice = kSlice;
    if (end) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(*end - Clock::now());
      if (left.count() <= 0) break;
      slice = std::min(slice, left);
    }
    std::uint32_t changed = 0;
    MmdrResult result = context.api.watchDevices(
        context.handle, arguments.watchKinds, static_cast<std::uint32_t>(slice.count()), &changed);
    if (result != MMDR_OK) return CallFailed("Mmdr_WatchDevices", result);
    for (const MmdrDeviceKind kind : {MMDR_DEVICE_VIDEO, MMDR_DEVICE_AUDIO}) {
      if ((changed & (1U << (kind - 1))) == 0) continue;
      changes += PrintChanges(context, kind, devices[kind - 1], result);
      if (result != MMDR_OK) return CallFailed("Mmdr_EnumDevices", result);
    }
  }
  return Interrupted() ? kExitInterrupted : kExitOk;
}

// ---- The command table --------------------------------------------------------------

// Each command's run, in CommandName's order.
int (*const kRuns[])(const Context& context) = {
    &RunList, &RunGetPref, &RunSetPref, &RunGetOption, &RunSetOption, &RunStatus, &RunWatch};

// The prologue every command shares, in this order: the library loaded (exit 3), the
// arguments checked (exit 2), a handle opened (exit 1); then the command itself.
int Execute(CommandName command, const Options& options) {
  if (options.logLevel) AskLibraryToLog(*options.logLevel);
  const auto api = LoadApi(options.dllPath);
  if (!api) return kExitNoLibrary;
  MmdrDeviceKind kind = MMDR_DEVICE_VIDEO;
  Arguments arguments;
  if (!ParseArguments(command, options.words, kind, arguments)) return kExitUsage;
  Session session(*api);
  if (!session.Open()) return kExitCallFailed;
  return kRuns[static_cast<std::size_t>(command)](
      {*api, options, kind, arguments, session.handle()});
}

int Main(const std::vector<std::string>& words) {
  Options options;
  if (!ParseOptions(words, options)) return kExitUsage;
  if (options.help) {
    Print(kUsage);
    return kExitOk;
  }
  const std::optional<CommandName> command = FindCommand(options.words);
  if (!command) return kExitUsage;
  const int status = Execute(*command, options);
  static_cast<void>(std::fflush(stdout));  // nothing is left to report a failure to
  return status;
}

}  // namespace
}  // namespace mmdrctl

int main(int argc, char** argv) {
  // Only allocation can throw here (a list of many devices, a long text): a failure like
  // any other, not an abort.
  try {
    mmdrctl::PrepareOutput();
    return mmdrctl::Main(mmdrctl::CommandLineWords(argc, argv));
  } catch (const std::exception& error) {
    static_cast<void>(std::fprintf(stderr, "mmdrctl: %s\n", error.what()));
    return mmdrctl::kExitCallFailed;
  }
}
