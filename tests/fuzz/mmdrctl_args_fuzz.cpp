// mmdrctl's command line, any words: what it accepts keeps the documented rules (options
// before the command only, a level from the list, a kind where a command takes one, --device
// never with --id or --name, an option 0 to 2, whole numbers of nine digits at most for watch).
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>

#include "command_line.h"
#include "fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  std::vector<std::string> words;
  while (input.remaining_bytes() > 0 && words.size() < 12)
    words.push_back(input.ConsumeRandomLengthString(24));
  mmdrctl::Options options;
  mmdrctl::Arguments arguments;
  auto kind = static_cast<MmdrDeviceKind>(0);
  if (!mmdrctl::ParseOptions(words, options) || options.help) return 0;
  // The words from the command on are the command's, options among them too.
  FUZZ_CHECK(options.words.size() <= words.size() &&
             std::equal(options.words.begin(), options.words.end(),
                        words.end() - static_cast<std::ptrdiff_t>(options.words.size())));
  const auto command = mmdrctl::FindCommand(options.words);
  if (!command || !mmdrctl::ParseArguments(*command, options.words, kind, arguments)) return 0;
  const std::string level = options.logLevel.value_or("info");
  FUZZ_CHECK(level == "error" || level == "info" || level == "debug");
  const std::string& name = options.words[0];
  const bool takesKind = name == "list" || name == "get-pref" || name == "set-pref";
  FUZZ_CHECK(!takesKind || options.words[1] == (kind == MMDR_DEVICE_VIDEO   ? "video"
                                                : kind == MMDR_DEVICE_AUDIO ? "audio"
                                                                            : ""));
  FUZZ_CHECK(!arguments.deviceName || (!arguments.id && !arguments.name));
  FUZZ_CHECK(name != "set-pref" ||
             options.words.size() ==
                 2 + 2 * (!!arguments.id + !!arguments.name + !!arguments.deviceName));
  FUZZ_CHECK(name != "set-option" ||
             (arguments.option <= 2 && options.words[1] == std::to_string(arguments.option)));
  FUZZ_CHECK(arguments.count.value_or(0) <= 999999999 &&
             arguments.timeoutSeconds.value_or(0) <= 999999999);
  return 0;
}
