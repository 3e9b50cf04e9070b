// The record path of the log facility: the fixed record header, and the two sinks that
// take a header and its text (the ring, or the registered writers).
#pragma once

#include <cstddef>
#include <cstdint>

#include "log/log_base.h"
#include "log/log_state.h"

constexpr std::size_t kLogThreadNameSize = 32;
constexpr std::size_t kLogDateTimeSize = 40;
constexpr std::size_t kLogMillisecondsSize = 8;
constexpr std::size_t kLogZoneSize = 2;
constexpr std::size_t kLogReservedSize = 12;
constexpr const char* kLogUnknownThreadName = "*UNKNOWN*";

// Copied into the ring byte for byte.
struct LogRecordHeader {
  const LogThresholds* module;  // the default module's pair for module 0, >314 and level 0
  const LogLevelInfo* level;
  std::uint8_t continuation;  // 1 on the second and later lines given to line writers
  char threadName[kLogThreadNameSize];
  char tag[kLogTagSize];
  char dateTime[kLogDateTimeSize];          // "YYYY-MM-DDThh:mm:ss", UTC
  char milliseconds[kLogMillisecondsSize];  // ".mmm"
  char zone[kLogZoneSize];                  // "Z"
  std::uint8_t reserved[kLogReservedSize];
};

// Two pointers lead the header: it is 144 bytes on 64-bit Windows and 136 on 32-bit.
constexpr std::size_t kLogHeaderPointers = 2 * sizeof(void*);
static_assert(sizeof(LogRecordHeader) == (sizeof(void*) == 8 ? 144 : 136),
              "the ring stores 144-byte headers (136 on 32-bit Windows)");
static_assert(offsetof(LogRecordHeader, level) == sizeof(void*) &&
                  offsetof(LogRecordHeader, continuation) == kLogHeaderPointers &&
                  offsetof(LogRecordHeader, threadName) == kLogHeaderPointers + 1 &&
                  offsetof(LogRecordHeader, tag) == kLogHeaderPointers + 33 &&
                  offsetof(LogRecordHeader, dateTime) == kLogHeaderPointers + 66 &&
                  offsetof(LogRecordHeader, milliseconds) == kLogHeaderPointers + 106 &&
                  offsetof(LogRecordHeader, zone) == kLogHeaderPointers + 114 &&
                  offsetof(LogRecordHeader, reserved) == kLogHeaderPointers + 116,
              "header layout");

// Called with the state's lock held (a call through a pointer is not checked).
using LogSink = void (*)(LogState* state, LogRecordHeader* header, std::size_t length,
                         const char* text);

// Builds a header for the calling thread and the current time and hands it with the
// text to sink.
void LogBuildHeader(LogState* state, const LogLevelInfo* level, const LogThresholds* module,
                    std::size_t length, const char* text, LogSink sink) REQUIRES(state->lock);
// Writes the header's date-and-time, milliseconds and zone fields for the current UTC time.
void LogFormatTimestamp(LogRecordHeader* header);

// Sink: appends the record to the state's ring.
void LogBufferRecord(LogState* state, LogRecordHeader* header, std::size_t length, const char* text)
    REQUIRES(state->lock);
// Sink: hands the record to the state's writers (whole-record writers once, line
// writers line by line with continuation set after the first line).
void LogDispatch(LogState* state, LogRecordHeader* header, std::size_t length, const char* text)
    REQUIRES(state->lock);
// Drains the ring through sink, oldest record first.
void LogFlush(LogState* state, LogSink sink) REQUIRES(state->lock);

// Cuts an overflowed message (its first size - 1 bytes in buffer, buffer holding size
// bytes) to whole UTF-8 characters and puts a newline in place of the last one kept.
// Returns the new length, newline included; a NUL follows it.
std::size_t LogTrimUtf8(std::size_t size, char* buffer);
