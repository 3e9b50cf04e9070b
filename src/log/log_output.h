// KESTREL_LOG, the log a support engineer switches on: "LEVEL" or "LEVEL:PATH" (split at
// the first colon), LEVEL one of error (levels 0 to 2), info (0 to 6) or debug (all), in
// any letter case. The library's records of those levels go out one line each: to standard
// error (on Windows the debugger too), or appended to the file at PATH; the records the ring
// already holds go first. Unset, empty, an unknown LEVEL or a PATH that cannot be opened:
// nothing goes out, and the records stay in the ring.
//
// A line: UTC time to the millisecond, the thread id, the level (error, info or debug), the
// subsystem and the text, "2025-01-31T09:15:02.417Z 4242 debug devices: Class::Fn - text".
// Control characters in the text, and bytes that are not UTF-8, are written as \n, \r, \t
// or \xHH, so that every record is exactly one line of UTF-8; a backslash that would read
// as one of these with what follows is written \x5C, so that the line reads back as the text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>

// Reads KESTREL_LOG and makes the library's log follow it, when its value differs from the
// one applied last (Mmdr_Init calls it). Never fails, and leaves errno and the last-error
// code as they were.
void LogFollowEnvironment() noexcept;

// The same with a value given (null: unset).
void LogApplySetting(const char* setting) noexcept;

// What a KESTREL_LOG value asks for: the highest level a line shows (-1: no known LEVEL,
// so no output at all), and with a known LEVEL the PATH after the first colon, if any.
struct LogSetting {
  std::int32_t maxLevel = -1;
  bool hasPath = false;
  std::size_t pathStart = 0;  // the PATH's offset in the value
};
LogSetting ParseLogSetting(std::string_view value);

// The text of a record as it goes on its line, handed to put a piece at a time (a
// character, or its escape, whole).
void EscapeLogText(const char* text, std::size_t size,
                   const std::function<void(const char*, std::size_t)>& put);
