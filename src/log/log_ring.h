// The in-memory record ring: entries of a 2-byte little-endian length, the record header
// (144 bytes; 136 in a 32-bit process) and the text, stored back to back and wrapping at the end of
// the storage wherever they fall (even inside the length). A full ring drops its oldest entries.
// Not locked: the log facility calls it under its own lock.
#pragma once

#include <cstddef>
#include <cstdint>

struct LogRecordHeader;

constexpr std::size_t kLogRingCapacity = 65536;
constexpr std::size_t kLogRingLengthFieldSize = 2;

struct LogRing {
  std::uint8_t* start;
  std::uint8_t* write;
  std::uint8_t* read;
  std::uint64_t used;
  std::uint64_t capacity;
};

// An empty ring over storage of any capacity.
void LogRing_Init(LogRing* ring, void* storage, std::size_t capacity);
// Appends one entry, first dropping the oldest entries until it fits with at least one
// byte to spare. An entry larger than the whole storage cannot be kept and is refused
// (the facility never produces one for its 65,536-byte ring).
void LogRing_Push(LogRing* ring, const LogRecordHeader* header, std::size_t textLength,
                  const char* text);
// Takes the oldest entry out: its header, and its text NUL-terminated into textOut of
// textCapacity bytes (a longer text is cut on a UTF-8 character boundary and ends in a
// newline). False when the ring is empty.
bool LogRing_Pop(LogRing* ring, std::size_t textCapacity, LogRecordHeader* headerOut,
                 std::size_t* lengthOut, char* textOut);
// Takes count bytes from the read position into destination (skips them when null).
void LogRing_Read(LogRing* ring, std::size_t count, void* destination);
// Stores count bytes from source at the write position.
void LogRing_Write(LogRing* ring, std::size_t count, const void* source);
