// The small base layer under the log facility: a recursive lock, a bounded formatter
// with a fixed overflow contract, the thread's id, and the few system services
// the facility needs (last-error code, UTC clock, the KESTREL_LOG variable and where its
// lines go). Portable parts live in log_base.cpp; log_base_win.cpp implements the rest for
// Windows and log_base_posix.cpp for Linux. No platform header is included here so that
// the log core stays portable.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <string>

#include "log/compiler.h"

struct RecLock;

// A new recursive lock, or null when the system refuses one. The name and rank
// identify the lock to diagnostics only.
RecLock* RecLock_Create(const char* name, std::uint32_t rank);
// The library's own lock: in static storage, so that a library unloaded from its host
// leaves no allocation behind, and never destroyed, so that a thread that logs while the
// process exits never finds it gone. Every call returns the same lock; null when the
// system refuses one.
RecLock* RecLock_Static();
// Destroys a lock that no thread holds (one of RecLock_Create's).
void RecLock_Destroy(RecLock* lock);
// Blocks until the calling thread holds the lock; the holder may acquire it again.
void RecLock_Acquire(RecLock* lock);
// Undoes one acquisition by the holding thread.
void RecLock_Release(RecLock* lock);

// Formats printf-style (C99 conversions) into buffer of size bytes. Returns the number
// of bytes stored without the NUL when the whole message and its NUL fit; otherwise
// returns -1 with the buffer holding the message's first size - 1 bytes and a NUL.
// A size of 0 stores nothing and returns -1. A conversion the formatter refuses (an
// unencodable wide character) leaves the empty text and returns 0.
int Base_Vsnprintf(char* buffer, std::size_t size, const char* format, va_list args)
    KESTREL_PRINTF_FORMAT(3, 0);
// Base_Vsnprintf with variable arguments.
int Base_Sprintf(char* buffer, std::size_t size, const char* format, ...)
    KESTREL_PRINTF_FORMAT(3, 4);
// The system's id of the calling thread, as its tools show it (the Linux TID, the Windows
// thread id).
std::uint32_t Base_CurrentThreadId();

struct LogSystemTime {
  int year;
  int month;
  int day;
  int hour;
  int minute;
  int second;
  int milliseconds;
};

std::uint32_t Base_GetLastError();
void Base_SetLastError(std::uint32_t code);
// The current UTC date and time.
void Base_GetSystemTime(LogSystemTime* time);

// The value of the environment variable KESTREL_LOG in UTF-8, read from the process's
// own environment (secure_getenv; on Windows GetEnvironmentVariableW, which sees what the
// host set after load); false when it is unset or not valid text. May throw
// std::bad_alloc.
bool Base_ReadLogSetting(std::string* value);

// Where KESTREL_LOG's lines go. None of these changes errno or the last-error code.
struct LogDestination;
// Opens the file at path (UTF-8) to append to it, creating it if need be (mode 0600 on
// POSIX; on Windows others may read it, and write and delete it, while it is open), or
// with a null path, standard error (on Windows the debugger too). Null when the file
// cannot be opened or memory ran out.
LogDestination* Base_OpenLogDestination(const char* path);
// Writes UTF-8 bytes that end on a character boundary; a failure loses them. On POSIX a
// pipe or terminal that is full at that moment is skipped, and a reader gone raises no
// SIGPIPE.
void Base_WriteLogDestination(LogDestination* destination, const char* bytes, std::size_t size);
void Base_CloseLogDestination(LogDestination* destination);
