// The process-wide log facility: the one entry every subsystem logs through.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <iterator>

#include "log/compiler.h"

// The parts of the library a line can come from: one per folder of src/, and "kestrel" for
// code outside them. Each is a module number past the module table (such modules filter
// as the default module), so that the level word carries it.
inline constexpr const char* kLogSubsystemNames[] = {"kestrel", "interface", "kinds", "devices",
                                                     "prefs",   "core",      "log"};
constexpr std::uint32_t kLogFirstSubsystemModule = 315;

constexpr std::uint32_t LogSubsystemIndex(const char* name) {
  std::uint32_t index = 0;
  for (; index < std::size(kLogSubsystemNames); ++index) {
    const char* known = kLogSubsystemNames[index];
    std::uint32_t i = 0;
    while (known[i] != '\0' && known[i] == name[i]) ++i;
    if (known[i] == name[i]) break;
  }
  return index;
}

// src/CMakeLists.txt compiles every source of the library with its folder's name here.
#ifndef KESTREL_LOG_SUBSYSTEM
#define KESTREL_LOG_SUBSYSTEM "kestrel"
#endif
constexpr std::uint32_t kLogSubsystemIndex = LogSubsystemIndex(KESTREL_LOG_SUBSYSTEM);
static_assert(kLogSubsystemIndex < std::size(kLogSubsystemNames),
              "KESTREL_LOG_SUBSYSTEM must be one of kLogSubsystemNames");
constexpr std::uint32_t kLogSubsystemWord =
    kLogSubsystemIndex == 0 ? 0 : (kLogFirstSubsystemModule + kLogSubsystemIndex - 1) << 5;

// The levels the library's own messages use (the facility knows 0 to 23, see
// kLogLevelInfo); lower is more severe. The level sits in bits 0 to 4 of a level word,
// the module number above it (0 is the default module); these carry the subsystem of the
// source file that uses them.
constexpr std::uint32_t kLogLevelError = 2 | kLogSubsystemWord;
constexpr std::uint32_t kLogLevelVerbose = 6 | kLogSubsystemWord;
constexpr std::uint32_t kLogLevelTrivia = 7 | kLogSubsystemWord;

struct LogState;

// Filters, formats and records one message on the library's static log state, and hands
// it to the KESTREL_LOG output when one is open (log_output.h). Never fails towards the
// caller and leaves the thread's last-error code (errno on POSIX) unchanged.
// Texts from outside (device names, registry values) travel only as arguments.
void Log(std::uint32_t levelWord, const char* format, ...) KESTREL_PRINTF_FORMAT(2, 3);

// Whether Log would record a message of this level word: callers with costly arguments
// (a wide message to format and convert) ask first.
bool LogWants(std::uint32_t levelWord);

// The core of Log, on a state of the caller's choosing (tests build their own).
void LogV(LogState* state, std::uint32_t levelWord, const char* format, va_list args);
