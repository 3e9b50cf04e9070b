// mmdrctl's command line read into what a run needs, before anything is loaded or opened:
// the options before the command, then the command's own words. Plain C++; a complaint
// goes to standard error (console.h).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "kestrelCliLib.h"

namespace mmdrctl {

struct Options {
  bool help = false;  // --help: the usage, and nothing else
  bool json = false;
  std::optional<std::string> dllPath;
  std::optional<std::string> logLevel;
  std::vector<std::string> words;  // the command and its arguments
};

// What the words after a command's kind say, for the commands that take more.
struct Arguments {
  std::optional<std::string> id;                // set-pref --id
  std::optional<std::string> name;              // set-pref --name
  std::optional<std::string> deviceName;        // set-pref --device
  std::uint32_t option = 0;                     // set-option
  std::uint32_t watchKinds = MMDR_WATCH_ALL;    // watch
  std::optional<unsigned long> count;           // watch --count
  std::optional<unsigned long> timeoutSeconds;  // watch --timeout
};

enum class CommandName { kList, kGetPref, kSetPref, kGetOption, kSetOption, kStatus, kWatch };

// Reads the options before the command into options (the command and its words into
// options.words); false, after a complaint, on a bad option. Stops at --help.
bool ParseOptions(const std::vector<std::string>& words, Options& options);
// The command that words[0] names; nullopt, after a complaint, when there is none.
std::optional<CommandName> FindCommand(const std::vector<std::string>& words);
// Checks the command's words (words[0] is its name): their number, the kind where it takes
// one, and what follows; false, after a complaint, on bad ones.
bool ParseArguments(CommandName command, const std::vector<std::string>& words,
                    MmdrDeviceKind& kind, Arguments& arguments);

}  // namespace mmdrctl
