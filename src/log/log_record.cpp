// The record path: header building, the ring and writer sinks, and the ring's drain.
#include "log/log_record.h"

#include "log/log_base.h"
#include "log/log_ring.h"

void LogFormatTimestamp(LogRecordHeader* header) {
  LogSystemTime now{};
  Base_GetSystemTime(&now);
  Base_Sprintf(header->dateTime, sizeof header->dateTime, "%04d-%02d-%02dT%02d:%02d:%02d", now.year,
               now.month, now.day, now.hour, now.minute, now.second);
  Base_Sprintf(header->milliseconds, sizeof header->milliseconds, ".%03d", now.milliseconds);
  header->zone[0] = 'Z';
  header->zone[1] = '\0';
}

void LogBuildHeader(LogState* state, const LogLevelInfo* level, const char* subsystem,
                    std::size_t length, const char* text, LogSink sink) {
  LogRecordHeader header{};  // zero: the fields nothing fills stay so
  header.subsystem = subsystem;
  header.level = level;
  header.threadId = Base_CurrentThreadId();
  LogFormatTimestamp(&header);
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
  LogWriter* writer = state->writer;
  if (writer != nullptr && static_cast<std::int32_t>(header->level->level) <= writer->maxLevel) {
    writer->write(writer, header, length, text);
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
