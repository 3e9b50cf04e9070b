// The record path: header building, the ring and writer sinks, and the ring's drain.
#include "log/log_record.h"

#include <cstring>

#include "log/log_base.h"
#include "log/log_ring.h"

namespace {

bool WriterTakes(const LogState* state, const LogWriter* writer, const LogRecordHeader* header) {
  if (writer == nullptr || writer->write == nullptr || writer->maxLevel < 0) return false;
  // Records of numbered modules passed their module's own threshold already.
  return static_cast<std::int64_t>(header->level->level) <= writer->maxLevel ||
         header->module != &state->defaultThresholds;
}

std::uint32_t WriterCount(const LogState* state) REQUIRES(state->lock) {
  return state->writerCount < kLogMaxWriters ? state->writerCount
                                             : static_cast<std::uint32_t>(kLogMaxWriters);
}

}  // namespace

void LogFormatTimestamp(LogRecordHeader* header) {
  LogSystemTime now{};
  Base_GetSystemTime(&now);
  Base_Sprintf(header->dateTime, sizeof header->dateTime, "%04d-%02d-%02dT%02d:%02d:%02d", now.year,
               now.month, now.day, now.hour, now.minute, now.second);
  Base_Sprintf(header->milliseconds, sizeof header->milliseconds, ".%03d", now.milliseconds);
  header->zone[0] = 'Z';
  header->zone[1] = '\0';
}

void LogBuildHeader(LogState* state, const LogLevelInfo* level, const LogThresholds* module,
                    std::size_t length, const char* text, LogSink sink) {
  LogRecordHeader header{};  // zero: the fields nothing fills, and the padding, stay so
  header.module = module;
  header.level = level;
  header.continuation = 0;
  LogFormatTimestamp(&header);
  Base_CurrentThreadName(header.threadName, sizeof header.threadName);
  header.threadName[sizeof header.threadName - 1] = '\0';
  if (header.threadName[0] == '\0') {
    Base_Strcpy(header.threadName, kLogUnknownThreadName, sizeof header.threadName);
  }
  if (state->tagProvider != nullptr && state->tagProvider->provide != nullptr) {
    if (state->tagProvider->provide(state->tagProvider, sizeof header.tag, header.tag)) {
      header.tag[sizeof header.tag - 1] = '\0';
    }
  }
  sink(state, &header, length, text);
}

void LogBufferRecord(LogState* state, LogRecordHeader* header, std::size_t length,
                     const char* text) {
  LogRing_Push(state->ring, header, length, text);
}

void LogDispatch(LogState* state, LogRecordHeader* header, std::size_t length, const char* text) {
  bool anyLineWriter = false;
  for (std::uint32_t slot = 0; slot < WriterCount(state); ++slot) {
    LogWriter* writer = state->writers[slot];
    if (!WriterTakes(state, writer, header)) continue;
    if (writer->wholeRecord) {
      writer->write(writer, header, length, text);
    } else {
      anyLineWriter = true;
    }
  }
  if (!anyLineWriter || length == 0) return;
  std::size_t lineStart = 0;
  while (lineStart < length) {
    const void* newline = std::memchr(text + lineStart, '\n', length - lineStart);
    const std::size_t lineEnd =
        newline != nullptr ? static_cast<std::size_t>(static_cast<const char*>(newline) - text) + 1
                           : length;
    for (std::uint32_t slot = 0; slot < WriterCount(state); ++slot) {
      LogWriter* writer = state->writers[slot];
      if (!WriterTakes(state, writer, header) || writer->wholeRecord) continue;
      writer->write(writer, header, lineEnd - lineStart, text + lineStart);
    }
    header->continuation = 1;
    lineStart = lineEnd;
  }
}

void LogFlush(LogState* state, LogSink sink) {
  LogRecordHeader header{};
  std::size_t length = 0;
  while (
      LogRing_Pop(state->ring, sizeof state->flushBuffer, &header, &length, state->flushBuffer)) {
    sink(state, &header, length, state->flushBuffer);
  }
}
