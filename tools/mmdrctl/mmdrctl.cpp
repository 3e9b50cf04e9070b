// mmdrctl: shows and changes what kestrelCliLib.dll reports, through nothing but the
// DLL's exported interface. For support engineers (readable output) and scripts
// (--json, exit status).
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <shellapi.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "console.h"
#include "core/utf8.h"
#include "kestrelCliLib.h"
#include "library.h"
#include "text_output.h"

namespace mmdrctl {
namespace {

const char kUsage[] =
    "Usage: mmdrctl [--json] [--dll PATH] COMMAND [ARGUMENTS]\n"
    "\n"
    "Shows and changes what kestrelCliLib.dll reports about this machine's webcams\n"
    "(video) and microphones (audio), through the DLL's exported interface only.\n"
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
    "\n"
    "Options:\n"
    "  --json       print one JSON object on standard output (texts are escaped ASCII)\n"
    "  --dll PATH   load this kestrelCliLib.dll instead of the one beside mmdrctl.exe\n"
    "  --help       show this text\n"
    "\n"
    "Exit status: 0 success, 1 a library call failed (or the stored option is out of\n"
    "range), 2 bad arguments, 3 the DLL could not be loaded.\n";

// ---- Commands -----------------------------------------------------------------------

struct Options {
  bool json = false;
  std::optional<std::string> dllPath;
  std::vector<std::string> words;  // the command and its arguments
};

const char* KindWord(MmdrDeviceKind kind) { return kind == MMDR_DEVICE_VIDEO ? "video" : "audio"; }

std::optional<MmdrDeviceKind> ParseKind(const std::string& word) {
  if (word == "video") return MMDR_DEVICE_VIDEO;
  if (word == "audio") return MMDR_DEVICE_AUDIO;
  Error("unknown device kind '%s' (expected video or audio)", DisplayText(word).c_str());
  return std::nullopt;
}

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

int RunList(const MmdrApi& api, const Options& options) {
  if (options.words.size() != 2) {
    Error("list takes one argument: video or audio");
    return kExitUsage;
  }
  const auto kind = ParseKind(options.words[1]);
  if (!kind) return kExitUsage;
  Session session(api);
  if (!session.Open()) return kExitCallFailed;
  std::vector<Device> devices;
  const MmdrResult result = EnumDevices(api, session.handle(), *kind, devices);
  if (result != MMDR_OK) return CallFailed("Mmdr_EnumDevices", result);

  if (options.json) {
    PrintF("{\"kind\": \"%s\", \"count\": %zu, \"devices\": [", KindWord(*kind), devices.size());
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
  PrintF("%zu %s capture device%s\n", devices.size(), KindWord(*kind),
         devices.size() == 1 ? "" : "s");
  for (std::size_t i = 0; i < devices.size(); ++i) {
    PrintF("  [%zu] %s\n", i, DisplayText(devices[i].name).c_str());
    PrintF("      id: %s\n", DisplayText(devices[i].id).c_str());
  }
  return kExitOk;
}

// One field of the preferred device; nullopt when the library has none to give.
std::optional<std::string> PreferredField(const MmdrApi& api, MmdrHandle* handle,
                                          MmdrDeviceKind kind, MmdrPrefField field,
                                          MmdrResult& result) {
  char text[MMDR_TEXT_FIELD_SIZE] = {};
  result = api.getPrefDev(handle, kind, field, text);
  if (result != MMDR_OK) return std::nullopt;
  return FieldText(text);
}

int RunGetPref(const MmdrApi& api, const Options& options) {
  if (options.words.size() != 2) {
    Error("get-pref takes one argument: video or audio");
    return kExitUsage;
  }
  const auto kind = ParseKind(options.words[1]);
  if (!kind) return kExitUsage;
  Session session(api);
  if (!session.Open()) return kExitCallFailed;
  // Each call matches afresh; the two answers describe the same device unless the
  // devices changed in between.
  MmdrResult idResult = MMDR_OK;
  MmdrResult nameResult = MMDR_OK;
  const auto id = PreferredField(api, session.handle(), *kind, MMDR_PREF_ID, idResult);
  const auto name = PreferredField(api, session.handle(), *kind, MMDR_PREF_NAME, nameResult);
  for (MmdrResult result : {idResult, nameResult}) {
    if (result != MMDR_OK && result != MMDR_NO_DATA) return CallFailed("Mmdr_GetPrefDev", result);
  }
  const bool found = id || name;
  if (options.json) {
    PrintF("{\"kind\": \"%s\", \"preferred\": ", KindWord(*kind));
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
    PrintF("No preferred %s device is present.\n", KindWord(*kind));
    return kExitOk;
  }
  PrintF("Preferred %s device\n", KindWord(*kind));
  PrintF("  name: %s\n", DisplayText(name.value_or("")).c_str());
  PrintF("  id:   %s\n", DisplayText(id.value_or("")).c_str());
  return kExitOk;
}

int RunSetPref(const MmdrApi& api, const Options& options) {
  if (options.words.size() < 2) {
    Error("set-pref needs a device kind: video or audio");
    return kExitUsage;
  }
  const auto kind = ParseKind(options.words[1]);
  if (!kind) return kExitUsage;
  std::optional<std::string> id;
  std::optional<std::string> name;
  std::optional<std::string> deviceName;
  for (std::size_t i = 2; i < options.words.size(); i += 2) {
    const std::string& option = options.words[i];
    std::optional<std::string>* target = option == "--id"       ? &id
                                         : option == "--name"   ? &name
                                         : option == "--device" ? &deviceName
                                                                : nullptr;
    if (target == nullptr) {
      Error("set-pref: unknown argument '%s'", DisplayText(option).c_str());
      return kExitUsage;
    }
    if (i + 1 >= options.words.size()) {
      Error("set-pref: %s needs a value", option.c_str());
      return kExitUsage;
    }
    if (*target) {
      Error("set-pref: %s given twice", option.c_str());
      return kExitUsage;
    }
    *target = options.words[i + 1];
  }
  if (deviceName && (id || name)) {
    Error("set-pref: --device cannot be combined with --id or --name");
    return kExitUsage;
  }

  Session session(api);
  if (!session.Open()) return kExitCallFailed;
  if (deviceName) {
    std::vector<Device> devices;
    const MmdrResult result = EnumDevices(api, session.handle(), *kind, devices);
    if (result != MMDR_OK) return CallFailed("Mmdr_EnumDevices", result);
    for (const Device& device : devices) {
      if (device.name == *deviceName) {
        id = device.id;
        name = device.name;
        break;
      }
    }
    if (!name) {
      Error("no %s device named '%s' is present", KindWord(*kind),
            DisplayText(*deviceName).c_str());
      return kExitCallFailed;
    }
  }
  const MmdrResult result = api.setPrefDev(session.handle(), *kind, id ? id->c_str() : nullptr,
                                           name ? name->c_str() : nullptr);
  if (result != MMDR_OK) return CallFailed("Mmdr_SetPrefDev", result);
  if (options.json) {
    PrintF("{\"kind\": \"%s\", \"stored\": {\"id\": ", KindWord(*kind));
    Print(JsonString(id.value_or("")) + ", \"name\": " + JsonString(name.value_or("")) + "}}\n");
  } else {
    PrintF("Stored the preferred %s device\n", KindWord(*kind));
    PrintF("  name: %s\n", DisplayText(name.value_or("")).c_str());
    PrintF("  id:   %s\n", DisplayText(id.value_or("")).c_str());
  }
  return kExitOk;
}

int RunGetOption(const MmdrApi& api, const Options& options) {
  if (options.words.size() != 1) {
    Error("get-option takes no argument");
    return kExitUsage;
  }
  Session session(api);
  if (!session.Open()) return kExitCallFailed;
  std::uint32_t option = 0;
  const MmdrResult result = api.getAudioInSelectOption(session.handle(), &option);
  // MMDR_FAILED still delivers the number: show what is stored, then fail.
  if (result != MMDR_OK && result != MMDR_FAILED) {
    return CallFailed("Mmdr_GetAudioInSelectOption", result);
  }
  const bool valid = result == MMDR_OK;
  if (options.json) {
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

int RunSetOption(const MmdrApi& api, const Options& options) {
  if (options.words.size() != 2) {
    Error("set-option takes one argument: 0, 1 or 2");
    return kExitUsage;
  }
  const std::string& word = options.words[1];
  if (word != "0" && word != "1" && word != "2") {
    Error("set-option: '%s' is not a valid option (expected 0, 1 or 2)", DisplayText(word).c_str());
    return kExitUsage;
  }
  const std::uint32_t option = static_cast<std::uint32_t>(word[0] - '0');
  Session session(api);
  if (!session.Open()) return kExitCallFailed;
  const MmdrResult result = api.setAudioInSelectOption(session.handle(), option);
  if (result != MMDR_OK) return CallFailed("Mmdr_SetAudioInSelectOption", result);
  if (options.json) {
    PrintF("{\"option\": %lu}\n", static_cast<unsigned long>(option));
  } else {
    PrintF("Stored the audio-in selection option %lu\n", static_cast<unsigned long>(option));
  }
  return kExitOk;
}

int RunStatus(const MmdrApi& api, const Options& options) {
  if (options.words.size() != 1) {
    Error("status takes no argument");
    return kExitUsage;
  }
  const std::uint32_t version = api.getLibVersion();
  Session session(api);
  if (!session.Open()) return kExitCallFailed;
  std::uint8_t enabled = 0;
  const MmdrResult result = api.isEnabled(session.handle(), &enabled);
  if (result != MMDR_OK) return CallFailed("Mmdr_IsEnabled", result);
  if (options.json) {
    PrintF("{\"interfaceVersion\": %lu, \"headerVersion\": %d, \"enabled\": %s}\n",
           static_cast<unsigned long>(version), MMDR_LIB_VERSION, enabled ? "true" : "false");
  } else {
    PrintF("Interface version: %lu (mmdrctl built for %d)\n", static_cast<unsigned long>(version),
           MMDR_LIB_VERSION);
    PrintF("Feature: %s\n", enabled ? "enabled" : "disabled by the machine's \"IsDisabled\"");
  }
  return kExitOk;
}

// The command line as UTF-8 words (the narrow argv would lose characters outside the
// ANSI code page).
std::vector<std::string> CommandLineWords() {
  std::vector<std::string> words;
  int count = 0;
  LPWSTR* arguments = CommandLineToArgvW(GetCommandLineW(), &count);
  if (arguments == nullptr) return words;
  for (int i = 1; i < count; ++i) words.push_back(ConvertWideToUtf8(arguments[i]));
  LocalFree(arguments);
  return words;
}

int Main() {
  // Binary mode: scripts on any system get "\n" line ends; the console shows UTF-8.
  _setmode(_fileno(stdout), _O_BINARY);
  SetConsoleOutputCP(CP_UTF8);

  Options options;
  const std::vector<std::string> words = CommandLineWords();
  for (std::size_t i = 0; i < words.size(); ++i) {
    const std::string& word = words[i];
    if (!options.words.empty()) {
      options.words.push_back(word);
    } else if (word == "--help" || word == "-h" || word == "/?") {
      Print(kUsage);
      return kExitOk;
    } else if (word == "--json") {
      options.json = true;
    } else if (word == "--dll") {
      if (i + 1 >= words.size()) {
        Error("--dll needs a path");
        return kExitUsage;
      }
      options.dllPath = words[++i];
    } else if (word.size() > 1 && word[0] == '-') {
      Error("unknown option '%s' (see mmdrctl --help)", DisplayText(word).c_str());
      return kExitUsage;
    } else {
      options.words.push_back(word);
    }
  }
  if (options.words.empty()) {
    Error("no command given (see mmdrctl --help)");
    return kExitUsage;
  }

  using Command = int (*)(const MmdrApi&, const Options&);
  struct NamedCommand {
    const char* name;
    Command run;
  };
  static const NamedCommand kCommands[] = {
      {"list", &RunList},
      {"get-pref", &RunGetPref},
      {"set-pref", &RunSetPref},
      {"get-option", &RunGetOption},
      {"set-option", &RunSetOption},
      {"status", &RunStatus},
  };
  for (const NamedCommand& command : kCommands) {
    if (options.words[0] == command.name) {
      const auto api = LoadApi(options.dllPath);
      if (!api) return kExitNoLibrary;
      const int status = command.run(*api, options);
      std::fflush(stdout);
      return status;
    }
  }
  Error("unknown command '%s' (see mmdrctl --help)", DisplayText(options.words[0]).c_str());
  return kExitUsage;
}

}  // namespace
}  // namespace mmdrctl

int main() { return mmdrctl::Main(); }
