// The fixed header every log record carries, and the rule that cuts an overflowed
// message on a character boundary. Shared by the record path and the ring.
#pragma once

#include <cstddef>
#include <cstdint>

#include "log/log_state.h"

constexpr std::size_t kLogDateTimeSize = 40;
constexpr std::size_t kLogMillisecondsSize = 8;
constexpr std::size_t kLogZoneSize = 2;
constexpr std::size_t kLogReservedSize = 41;

// Copied into the ring byte for byte.
struct LogRecordHeader {
  const char* subsystem;  // the folder that logged ("devices"), from the level word's module
  const LogLevelInfo* level;
  std::uint32_t threadId;  // the system's id of the thread that logged
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
                  offsetof(LogRecordHeader, threadId) == kLogHeaderPointers &&
                  offsetof(LogRecordHeader, tag) == kLogHeaderPointers + 4 &&
                  offsetof(LogRecordHeader, dateTime) == kLogHeaderPointers + 37 &&
                  offsetof(LogRecordHeader, milliseconds) == kLogHeaderPointers + 77 &&
                  offsetof(LogRecordHeader, zone) == kLogHeaderPointers + 85 &&
                  offsetof(LogRecordHeader, reserved) == kLogHeaderPointers + 87,
              "header layout: no padding between the fields");

// Cuts an overflowed message (its first size - 1 bytes in buffer, buffer holding size
// bytes) to whole UTF-8 characters and puts a newline in place of the last one kept.
// Returns the new length, newline included; a NUL follows it.
std::size_t LogTrimUtf8(std::size_t size, char* buffer);
