// Cutting an overflowed message on a UTF-8 character boundary.
#include "log/log_header.h"

namespace {

bool IsContinuationByte(unsigned char byte) { return (byte & 0xC0) == 0x80; }

int LeadingOnes(unsigned char byte) {
  int count = 0;
  while (count < 8 && (byte & (0x80 >> count)) != 0) ++count;
  return count;
}

// Index of the last byte below limit that is not a continuation byte, or 0.
std::size_t LastCharacterStart(const char* buffer, std::size_t limit) {
  std::size_t i = limit - 1;
  while (i > 0 && IsContinuationByte(static_cast<unsigned char>(buffer[i]))) --i;
  return i;
}

// True when the character starting at index start is a multi-byte one whose length
// differs from the bytes present up to limit.
bool IsCutCharacter(const char* buffer, std::size_t start, std::size_t limit) {
  const auto lead = static_cast<unsigned char>(buffer[start]);
  return (lead & 0x80) != 0 && static_cast<std::size_t>(LeadingOnes(lead)) != limit - start;
}
}  // namespace

std::size_t LogTrimUtf8(std::size_t size, char* buffer) {
  if (size < 2) {
    // No room for a newline and a NUL; keep the buffer a valid empty text.
    if (size == 1) buffer[0] = '\0';
    return 0;
  }
  std::size_t end = size - 1;
  const std::size_t lastStart = LastCharacterStart(buffer, end);
  if (IsCutCharacter(buffer, lastStart, end)) {
    if (lastStart == 0) {
      buffer[0] = '\n';
      buffer[1] = '\0';
      return 1;
    }
    end = lastStart;
  }
  // The newline takes the place of the last whole character.
  std::size_t newlineAt = 0;
  if (end - 1 != 0) {
    const std::size_t previousStart = LastCharacterStart(buffer, end - 1);
    newlineAt = IsCutCharacter(buffer, previousStart, end - 1) ? previousStart : end - 1;
  }
  buffer[newlineAt] = '\n';
  buffer[newlineAt + 1] = '\0';
  return newlineAt + 1;
}
