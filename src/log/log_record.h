// The record path of the log facility: building the record header, and the two sinks
// that take a header and its text (the ring, or the state's writer).
#pragma once

#include <cstddef>
#include <cstdint>

#include "log/log_base.h"
#include "log/log_header.h"
#include "log/log_state.h"

// Called with the state's lock held (a call through a pointer is not checked).
using LogSink = void (*)(LogState* state, LogRecordHeader* header, std::size_t length,
                         const char* text);

// Builds a header for the calling thread and the current time and hands it with the
// text to sink.
void LogBuildHeader(LogState* state, const LogLevelInfo* level, const char* subsystem,
                    std::size_t length, const char* text, LogSink sink) REQUIRES(state->lock);
// Writes the header's date-and-time, milliseconds and zone fields for the current UTC time.
void LogFormatTimestamp(LogRecordHeader* header);

// Sink: appends the record to the state's ring.
void LogBufferRecord(LogState* state, LogRecordHeader* header, std::size_t length, const char* text)
    REQUIRES(state->lock);
// Sink: hands the record to the state's writer when its level is one the writer takes.
void LogDispatch(LogState* state, LogRecordHeader* header, std::size_t length, const char* text)
    REQUIRES(state->lock);
// Drains the ring through sink, oldest record first.
void LogFlush(LogState* state, LogSink sink) REQUIRES(state->lock);
