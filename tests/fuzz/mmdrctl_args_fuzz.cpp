// mmdrctl's command line, any words: what it accepts keeps the documented rules (a kind where
// a command takes one, --device never with --id or --name, each option once, whole numbers
// for watch), and accepted words written out again read the same.
#include <fuzzer/FuzzedDataProvider.h>

#include <string>
#include <vector>

#include "command_line.h"
#include "fuzz_check.h"

namespace {

struct Parsed {
  bool ok = false;
  mmdrctl::Options options;
  MmdrDeviceKind kind = MMDR_DEVICE_VIDEO;
  mmdrctl::Arguments arguments;
};

Parsed Parse(const std::vector<std::string>& words) {
  Parsed parsed;
  if (!mmdrctl::ParseOptions(words, parsed.options) || parsed.options.help) return parsed;
  const auto command = mmdrctl::FindCommand(parsed.options.words);
  parsed.ok = command && mmdrctl::ParseArguments(*command, parsed.options.words, parsed.kind,
                                                 parsed.arguments);
  return parsed;
}

void Add(std::vector<std::string>& words, const char* option,
         const std::optional<std::string>& value) {
  if (value) words.insert(words.end(), {option, *value});
}

void AddNumber(std::vector<std::string>& words, const char* option,
               std::optional<unsigned long> value) {
  if (value) words.insert(words.end(), {option, std::to_string(*value)});
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  std::vector<std::string> words;
  while (input.remaining_bytes() > 0 && words.size() < 12)
    words.push_back(input.ConsumeRandomLengthString(24));
  const Parsed parsed = Parse(words);
  if (!parsed.ok) return 0;
  const mmdrctl::Options& options = parsed.options;
  const mmdrctl::Arguments& arguments = parsed.arguments;
  const std::string& command = options.words[0];
  FUZZ_CHECK(!options.logLevel || *options.logLevel == "error" || *options.logLevel == "info" ||
             *options.logLevel == "debug");
  if (command == "list" || command == "get-pref" || command == "set-pref") {
    FUZZ_CHECK(options.words[1] == (parsed.kind == MMDR_DEVICE_VIDEO ? "video" : "audio"));
  }
  FUZZ_CHECK(!arguments.deviceName || (!arguments.id && !arguments.name));
  FUZZ_CHECK(arguments.option <= 2);
  FUZZ_CHECK(arguments.count.value_or(0) <= 999999999 &&
             arguments.timeoutSeconds.value_or(0) <= 999999999);

  // The same run written out: options, the command, then its words in a fixed order.
  std::vector<std::string> again;
  if (options.json) again.emplace_back("--json");
  Add(again, "--dll", options.dllPath);
  Add(again, "--log", options.logLevel);
  again.push_back(command);
  if (command == "set-option") again.push_back(options.words[1]);
  if (command == "list" || command == "get-pref" || command == "set-pref")
    again.push_back(options.words[1]);
  Add(again, "--id", arguments.id);
  Add(again, "--name", arguments.name);
  Add(again, "--device", arguments.deviceName);
  if (command == "watch" && arguments.watchKinds != MMDR_WATCH_ALL) {
    again.emplace_back(arguments.watchKinds == MMDR_WATCH_VIDEO ? "video" : "audio");
  }
  AddNumber(again, "--count", arguments.count);
  AddNumber(again, "--timeout", arguments.timeoutSeconds);
  const Parsed reread = Parse(again);
  FUZZ_CHECK(reread.ok && reread.kind == parsed.kind && reread.options.json == options.json &&
             reread.options.dllPath == options.dllPath &&
             reread.options.logLevel == options.logLevel && reread.arguments.id == arguments.id &&
             reread.arguments.name == arguments.name &&
             reread.arguments.deviceName == arguments.deviceName &&
             reread.arguments.option == arguments.option &&
             reread.arguments.watchKinds == arguments.watchKinds &&
             reread.arguments.count == arguments.count &&
             reread.arguments.timeoutSeconds == arguments.timeoutSeconds);
  return 0;
}
