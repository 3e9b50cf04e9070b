// The process-wide log facility: the one entry every subsystem logs through.
#pragma once

#include <cstdarg>
#include <cstdint>

#include "log/compiler.h"

// The levels the library's own messages use (the facility knows 0 to 23, see
// kLogLevelInfo); lower is more severe. The level sits in bits 0 to 4 of a level word,
// the module number above it (0 is the default module).
constexpr std::uint32_t kLogLevelError = 2;
constexpr std::uint32_t kLogLevelVerbose = 6;
constexpr std::uint32_t kLogLevelTrivia = 7;

struct LogState;

// Filters, formats and records one message on the library's static log state. Never
// fails towards the caller and leaves the thread's Win32 last-error code unchanged.
// Texts from outside (device names, registry values) travel only as arguments.
void Log(std::uint32_t levelWord, const char* format, ...) KESTREL_PRINTF_FORMAT(2, 3);

// Whether Log would record or print a message of this level word: callers with costly
// arguments (a wide message to format and convert) ask first.
bool LogWants(std::uint32_t levelWord);

// The core of Log, on a state of the caller's choosing (tests build their own).
void LogV(LogState* state, std::uint32_t levelWord, const char* format, va_list args);
