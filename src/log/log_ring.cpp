// The record ring.
#include "log/log_ring.h"

#include <cstring>

#include "log/log_header.h"

namespace {

constexpr std::size_t kHeaderSize = sizeof(LogRecordHeader);

std::uint8_t* End(const LogRing* ring) { return ring->start + ring->capacity; }

// Reads the 2-byte little-endian length at the read position, which may have one byte
// at the end of the storage and the other at its start.
std::size_t ReadLength(LogRing* ring) {
  std::uint8_t bytes[kLogRingLengthFieldSize];
  LogRing_Read(ring, sizeof bytes, bytes);
  return static_cast<std::size_t>(bytes[0]) | (static_cast<std::size_t>(bytes[1]) << 8);
}

}  // namespace

void LogRing_Init(LogRing* ring, void* storage, std::size_t capacity) {
  ring->start = static_cast<std::uint8_t*>(storage);
  ring->write = ring->start;
  ring->read = ring->start;
  ring->used = 0;
  ring->capacity = capacity;
}

void LogRing_Write(LogRing* ring, std::size_t count, const void* source) {
  const auto* bytes = static_cast<const std::uint8_t*>(source);
  const std::size_t toEnd = static_cast<std::size_t>(End(ring) - ring->write);
  if (count > toEnd) {
    std::memcpy(ring->write, bytes, toEnd);
    std::memcpy(ring->start, bytes + toEnd, count - toEnd);
    ring->write = ring->start + (count - toEnd);
  } else {
    std::memcpy(ring->write, bytes, count);
    ring->write += count;
    if (ring->write == End(ring)) ring->write = ring->start;
  }
  ring->used += count;
}

void LogRing_Read(LogRing* ring, std::size_t count, void* destination) {
  auto* bytes = static_cast<std::uint8_t*>(destination);
  const std::size_t toEnd = static_cast<std::size_t>(End(ring) - ring->read);
  if (count > toEnd) {
    if (bytes != nullptr) {
      std::memcpy(bytes, ring->read, toEnd);
      std::memcpy(bytes + toEnd, ring->start, count - toEnd);
    }
    ring->read = ring->start + (count - toEnd);
  } else {
    if (bytes != nullptr) std::memcpy(bytes, ring->read, count);
    ring->read += count;
    if (ring->read == End(ring)) ring->read = ring->start;
  }
  ring->used -= count;
}

void LogRing_Push(LogRing* ring, const LogRecordHeader* header, std::size_t textLength,
                  const char* text) {
  // An entry the storage cannot hold would overwrite itself, and one whose length does
  // not fit the 2-byte field could not be found again; neither is ever produced for the
  // facility's own ring (texts of at most 32767 bytes), so they are refused.
  const std::size_t storedLength = textLength + kHeaderSize;
  const std::size_t entrySize = storedLength + kLogRingLengthFieldSize;
  if (storedLength > 0xFFFF || entrySize > ring->capacity) return;
  while (ring->used > 0 && entrySize >= ring->capacity - ring->used) {
    const std::size_t oldLength = ReadLength(ring);
    LogRing_Read(ring, oldLength, nullptr);
  }
  const std::uint8_t lengthBytes[kLogRingLengthFieldSize] = {
      static_cast<std::uint8_t>(storedLength & 0xFF),
      static_cast<std::uint8_t>((storedLength >> 8) & 0xFF)};
  LogRing_Write(ring, sizeof lengthBytes, lengthBytes);
  LogRing_Write(ring, kHeaderSize, header);
  LogRing_Write(ring, textLength, text);
}

bool LogRing_Pop(LogRing* ring, std::size_t textCapacity, LogRecordHeader* headerOut,
                 std::size_t* lengthOut, char* textOut) {
  if (ring->used == 0) return false;
  const std::size_t storedLength = ReadLength(ring);
  LogRing_Read(ring, kHeaderSize, headerOut);
  const std::size_t textLength = (storedLength + 65536 - kHeaderSize) % 65536;
  if (textLength < textCapacity) {
    LogRing_Read(ring, textLength, textOut);
    textOut[textLength] = '\0';
    *lengthOut = textLength;
    return true;
  }
  if (textCapacity == 0) {
    LogRing_Read(ring, textLength, nullptr);
    *lengthOut = 0;
    return true;
  }
  const std::size_t kept = textCapacity - 1;
  LogRing_Read(ring, kept, textOut);
  LogRing_Read(ring, textLength - kept, nullptr);
  textOut[kept] = '\0';
  *lengthOut = LogTrimUtf8(textCapacity, textOut);
  return true;
}
