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
// or \xHH, so that every record is exactly one line of UTF-8.
#pragma once

// Reads KESTREL_LOG and makes the library's log follow it, when its value differs from the
// one applied last (Mmdr_Init calls it). Never fails, and leaves errno and the last-error
// code as they were.
void LogFollowEnvironment() noexcept;

// The same with a value given (null: unset).
void LogApplySetting(const char* setting) noexcept;
