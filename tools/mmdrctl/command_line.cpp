#include "command_line.h"

#include <limits>

#include "console.h"
#include "text_output.h"

namespace mmdrctl {
namespace {

std::optional<MmdrDeviceKind> ParseKind(const std::string& word) {
  if (word == "video") return MMDR_DEVICE_VIDEO;
  if (word == "audio") return MMDR_DEVICE_AUDIO;
  Error("unknown device kind '%s' (expected video or audio)", DisplayText(word).c_str());
  return std::nullopt;
}

// The words after the kind: --id, --name or --device, each with a value, each once.
bool ParseSetPref(const std::vector<std::string>& words, Arguments& arguments) {
  for (std::size_t i = 2; i < words.size(); i += 2) {
    const std::string& option = words[i];
    std::optional<std::string>* target = option == "--id"       ? &arguments.id
                                         : option == "--name"   ? &arguments.name
                                         : option == "--device" ? &arguments.deviceName
                                                                : nullptr;
    if (target == nullptr) {
      Error("set-pref: unknown argument '%s'", DisplayText(option).c_str());
      return false;
    }
    if (i + 1 >= words.size()) {
      Error("set-pref: %s needs a value", option.c_str());
      return false;
    }
    if (*target) {
      Error("set-pref: %s given twice", option.c_str());
      return false;
    }
    *target = words[i + 1];
  }
  if (arguments.deviceName && (arguments.id || arguments.name)) {
    Error("set-pref: --device cannot be combined with --id or --name");
    return false;
  }
  return true;
}

// The one word after the command: 0, 1 or 2.
bool ParseSetOption(const std::vector<std::string>& words, Arguments& arguments) {
  const std::string& word = words[1];
  if (word != "0" && word != "1" && word != "2") {
    Error("set-option: '%s' is not a valid option (expected 0, 1 or 2)", DisplayText(word).c_str());
    return false;
  }
  arguments.option = static_cast<std::uint32_t>(word[0] - '0');
  return true;
}

// watch's words: an optional kind, then --count N and --timeout SECONDS, each once.
bool ParseWatch(const std::vector<std::string>& words, Arguments& arguments) {
  std::size_t i = 1;
  if (i < words.size() && (words[i] == "video" || words[i] == "audio" || words[i] == "all")) {
    arguments.watchKinds = words[i] == "video"   ? MMDR_WATCH_VIDEO
                           : words[i] == "audio" ? MMDR_WATCH_AUDIO
                                                 : MMDR_WATCH_ALL;
    ++i;
  }
  for (; i < words.size(); i += 2) {
    const std::string& option = words[i];
    std::optional<unsigned long>* target = option == "--count"     ? &arguments.count
                                           : option == "--timeout" ? &arguments.timeoutSeconds
                                                                   : nullptr;
    if (target == nullptr) {
      Error("watch: unknown argument '%s'", DisplayText(option).c_str());
      return false;
    }
    const std::string value = i + 1 < words.size() ? words[i + 1] : std::string();
    if (value.empty() || value.size() > 9 ||
        value.find_first_not_of("0123456789") != std::string::npos) {
      Error("watch: %s needs a whole number", option.c_str());
      return false;
    }
    if (*target) {
      Error("watch: %s given twice", option.c_str());
      return false;
    }
    *target = std::stoul(value);
  }
  return true;
}

constexpr std::size_t kAnyCount = std::numeric_limits<std::size_t>::max();

struct Command {
  CommandName id;
  const char* name;
  std::size_t minArguments;  // words after the command's name
  std::size_t maxArguments;
  bool takesKind;     // the first argument is video or audio
  const char* usage;  // the complaint when the number of arguments is wrong
  // Checks the arguments beyond the kind (complaining on standard error), or nullptr.
  bool (*parse)(const std::vector<std::string>& words, Arguments& arguments);
};

const Command kCommands[] = {
    {CommandName::kList, "list", 1, 1, true, "list takes one argument: video or audio", nullptr},
    {CommandName::kGetPref, "get-pref", 1, 1, true, "get-pref takes one argument: video or audio",
     nullptr},
    {CommandName::kSetPref, "set-pref", 1, kAnyCount, true,
     "set-pref needs a device kind: video or audio", &ParseSetPref},
    {CommandName::kGetOption, "get-option", 0, 0, false, "get-option takes no argument", nullptr},
    {CommandName::kSetOption, "set-option", 1, 1, false, "set-option takes one argument: 0, 1 or 2",
     &ParseSetOption},
    {CommandName::kStatus, "status", 0, 0, false, "status takes no argument", nullptr},
    {CommandName::kWatch, "watch", 0, 5, false,
     "watch takes a kind, --count N and --timeout SECONDS at most", &ParseWatch},
};

}  // namespace

bool ParseOptions(const std::vector<std::string>& words, Options& options) {
  for (std::size_t i = 0; i < words.size(); ++i) {
    const std::string& word = words[i];
    // Options come before the command; every word from the command on is its own.
    const bool beforeCommand = options.words.empty();
    if (beforeCommand && (word == "--help" || word == "-h" || word == "/?")) {
      options.help = true;
      return true;
    } else if (beforeCommand && word == "--json") {
      options.json = true;
    } else if (beforeCommand && word == "--dll") {
      if (i + 1 >= words.size()) {
        Error("--dll needs a path");
        return false;
      }
      options.dllPath = words[++i];
    } else if (beforeCommand && word == "--log") {
      std::string level = i + 1 < words.size() ? words[++i] : std::string();
      for (char& c : level) c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
      if (level != "error" && level != "info" && level != "debug") {
        Error("--log needs a level: error, info or debug");
        return false;
      }
      options.logLevel = level;
    } else if (beforeCommand && word.size() > 1 && word[0] == '-') {
      Error("unknown option '%s' (see mmdrctl --help)", DisplayText(word).c_str());
      return false;
    } else {
      options.words.push_back(word);
    }
  }
  return true;
}

std::optional<CommandName> FindCommand(const std::vector<std::string>& words) {
  if (words.empty()) {
    Error("no command given (see mmdrctl --help)");
    return std::nullopt;
  }
  for (const Command& command : kCommands) {
    if (words[0] == command.name) return command.id;
  }
  Error("unknown command '%s' (see mmdrctl --help)", DisplayText(words[0]).c_str());
  return std::nullopt;
}

bool ParseArguments(CommandName name, const std::vector<std::string>& words, MmdrDeviceKind& kind,
                    Arguments& arguments) {
  const Command& command = kCommands[static_cast<std::size_t>(name)];
  const std::size_t count = words.size() - 1;
  if (count < command.minArguments || count > command.maxArguments) {
    Error("%s", command.usage);
    return false;
  }
  if (command.takesKind) {
    const auto parsed = ParseKind(words[1]);
    if (!parsed) return false;
    kind = *parsed;
  }
  return command.parse == nullptr || command.parse(words, arguments);
}

}  // namespace mmdrctl
