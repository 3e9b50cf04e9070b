// The log facility on states the tests build: filtering, formatting limits, the newline
// rule, masking, writers, nesting, tags, headers and concurrency.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "log_test_state.h"

namespace {

using kestrel_test::TestLogState;

constexpr std::uint32_t Module(std::uint32_t number) { return number << kLogModuleShift; }

struct WriterCall {
  std::string text;
  std::uint8_t continuation;
  std::uint32_t level;
  const LogThresholds* module;
  std::string threadName;
  std::string dateTime;
};

// A writer that keeps what it is handed; onWrite runs inside the write call.
class RecordingWriter {
 public:
  RecordingWriter(bool wholeRecord, std::int32_t maxLevel) {
    writer_.wholeRecord = wholeRecord;
    writer_.maxLevel = maxLevel;
    writer_.write = &RecordingWriter::Write;
    writer_.context = this;
  }
  LogWriter* writer() { return &writer_; }
  std::vector<WriterCall> calls() {
    std::lock_guard<std::mutex> hold(mutex_);
    return calls_;
  }
  std::vector<std::string> texts() {
    std::vector<std::string> result;
    for (const WriterCall& call : calls()) result.push_back(call.text);
    return result;
  }
  std::function<void(const WriterCall&)> onWrite;

 private:
  static void Write(LogWriter* writer, LogRecordHeader* header, std::size_t length,
                    const char* text) {
    auto* self = static_cast<RecordingWriter*>(writer->context);
    WriterCall call{std::string(text, length), header->continuation, header->level->level,
                    header->module, header->threadName, header->dateTime};
    {
      std::lock_guard<std::mutex> hold(self->mutex_);
      self->calls_.push_back(call);
    }
    if (self->onWrite) self->onWrite(call);
  }

  LogWriter writer_;
  std::mutex mutex_;
  std::vector<WriterCall> calls_;
};

using SetThreadDescriptionFn = HRESULT(WINAPI*)(HANDLE, PCWSTR);

SetThreadDescriptionFn SetThreadDescriptionFunction() {
  return reinterpret_cast<SetThreadDescriptionFn>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetThreadDescription")));
}

std::string LoggedText(TestLogState& log, const std::string& message) {
  log.LogText(kLogLevelError, message);
  auto records = log.Drain();
  return records.size() == 1 ? records[0].text : "<" + std::to_string(records.size()) + " records>";
}

TEST(LogFacility, NewlineRule) {
  const struct {
    const char* message;
    const char* expected;
  } cases[] = {
      {"", "\n"},           {"abc", "abc\n"},     {"abc\n", "abc\n"},
      {"a\nb", "a\nb\n"},   {"a\n\n", "a\n\n"},   {"\n", "\n"},
  };
  TestLogState log;
  for (const auto& c : cases) {
    EXPECT_EQ(LoggedText(log, c.message), c.expected) << "message: " << c.message;
  }
}

TEST(LogFacility, MasksTheSequenceInAnyCaseLeftToRight) {
  const struct {
    const char* message;
    const char* expected;
  } cases[] = {
      {"ZQXzqx", "******\n"},
      {"zzqx", "z***\n"},
      {"zQx.", "***.\n"},
      {"zqzqx", "zq***\n"},
      {"zqxqx", "***qx\n"},
      {"id zQX in the middle Zqx", "id *** in the middle ***\n"},
      {"zq", "zq\n"},  // two letters are never masked
      {"zq\nx", "zq\nx\n"},
      {"z", "z\n"},
  };
  TestLogState log;
  for (const auto& c : cases) {
    EXPECT_EQ(LoggedText(log, c.message), c.expected) << "message: " << c.message;
  }
  // Only the message is masked: arguments are part of it, the format is too.
  log.Log(kLogLevelError, "zqx %s", "ZQX");
  EXPECT_EQ(log.Drain().at(0).text, "*** ***\n");
}

TEST(LogFacility, FiltersByLevelAndModule) {
  const struct {
    std::uint32_t levelWord;
    std::int32_t defaultRecordThreshold;
    bool recorded;
    const char* levelName;  // of the record's level row
    int moduleRow;          // -1: the default module's pair
  } cases[] = {
      {0, 5, true, "audit", -1},
      {0 | Module(7), 5, true, "audit", -1},    // level 0 always, as the default module
      {0 | Module(314), -1, true, "audit", -1}, // even with everything switched off
      {2, 5, true, "error", -1},
      {5, 5, true, "info", -1},
      {6, 5, false, nullptr, 0},
      {7, 5, false, nullptr, 0},
      {2 | Module(1), 5, false, nullptr, 0},
      {2 | Module(314), 31, false, nullptr, 0},
      {2 | Module(315), 5, true, "error", -1},  // above the table: the default module
      {2 | Module(316), 5, true, "error", -1},
      {6 | Module(316), 5, false, nullptr, 0},
      {29, 5, false, nullptr, 0},
      {29, 31, true, "info", -1},  // no row of its own
      {24, 31, true, "info", -1},
      {23, 31, true, "debug15", -1},
      {9, 31, true, "debug1", -1},
      {2, -1, false, nullptr, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("levelWord " + std::to_string(c.levelWord) + " threshold " +
                 std::to_string(c.defaultRecordThreshold));
    TestLogState log;
    log.state()->defaultThresholds.recordThreshold = c.defaultRecordThreshold;
    log.Log(c.levelWord, "message %u", c.levelWord);
    auto records = log.Drain();
    ASSERT_EQ(records.size(), c.recorded ? 1u : 0u);
    if (!c.recorded) continue;
    EXPECT_STREQ(records[0].header.level->name, c.levelName);
    EXPECT_EQ(records[0].header.module, &log.state()->defaultThresholds);
    EXPECT_EQ(records[0].text, "message " + std::to_string(c.levelWord) + "\n");
  }
}

TEST(LogFacility, FirstAndSpareBufferLimits) {
  const struct {
    std::string message;
    std::string expected;
  } cases[] = {
      {std::string(318, 'a'), std::string(318, 'a') + "\n"},  // fits the first buffer
      {std::string(319, 'b'), std::string(319, 'b') + "\n"},  // goes to the spare buffer
      {std::string(32766, 'c'), std::string(32766, 'c') + "\n"},
      {std::string(32767, 'd'), std::string(32765, 'd') + "\n"},  // cut
      {std::string(40000, 'e'), std::string(32765, 'e') + "\n"},
      // Cut inside a two-byte character: it goes and the newline replaces the 'f' before it.
      {std::string(32765, 'f') + "\xC3\xA9", std::string(32764, 'f') + "\n"},
  };
  TestLogState log;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message.size());
    EXPECT_EQ(LoggedText(log, c.message), c.expected);
    EXPECT_EQ(log.state()->spareSlot.load(), log.state()->spareBuffer);
  }
}

TEST(LogFacility, LongMessageIsCutInTheFirstBufferWhileTheSpareIsHeld) {
  const struct {
    std::string message;
    std::string expected;
  } cases[] = {
      {std::string(318, 'a'), std::string(318, 'a') + "\n"},  // needs no spare
      {std::string(400, 'b'), std::string(317, 'b') + "\n"},
      {std::string(316, 'c') + "\xE2\x82\xAC", std::string(315, 'c') + "\n"},  // cut 3-byte
      {std::string(315, 'd') + "\xE2\x82\xAC" + "tail", std::string(315, 'd') + "\n"},  // whole, gives way
  };
  TestLogState log;
  char* spare = log.state()->spareSlot.exchange(nullptr);  // as if another call held it
  ASSERT_NE(spare, nullptr);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message.size());
    EXPECT_EQ(LoggedText(log, c.message), c.expected);
    EXPECT_EQ(log.state()->spareSlot.load(), nullptr);
  }
  log.state()->spareSlot.store(spare);
}

// One thread holds the spare buffer inside its writer while a second thread logs a
// long message: the second falls back to its own first buffer and is cut there. The
// state runs without its lock so that the second call reaches the writer meanwhile.
TEST(LogFacility, SecondLongMessageFallsBackWhileAnotherCallHoldsTheSpare) {
  TestLogState log;
  log.state()->lockingDisabled = true;
  RecordingWriter writer(true, 31);
  log.AddWriter(writer.writer());

  std::mutex mutex;
  std::condition_variable changed;
  bool secondArrived = false;
  const std::string firstMessage(1000, 'F');
  const std::string secondMessage(1000, 'S');
  writer.onWrite = [&](const WriterCall& call) {
    std::unique_lock<std::mutex> hold(mutex);
    if (call.text[0] == 'F') {
      // Still holding the spare buffer: let the second thread log and wait for it.
      std::thread second([&] { log.LogText(kLogLevelError, secondMessage); });
      changed.wait_for(hold, std::chrono::seconds(20), [&] { return secondArrived; });
      hold.unlock();
      second.join();
    } else {
      secondArrived = true;
      changed.notify_all();
    }
  };
  std::thread first([&] { log.LogText(kLogLevelError, firstMessage); });
  first.join();

  auto texts = writer.texts();
  ASSERT_EQ(texts.size(), 2u);
  EXPECT_EQ(texts[0], firstMessage + "\n");
  EXPECT_EQ(texts[1], std::string(317, 'S') + "\n");
  EXPECT_EQ(log.state()->spareSlot.load(), log.state()->spareBuffer);
}

TEST(LogFacility, CallDuringLockCreationIsDropped) {
  TestLogState log;
  log.state()->lockCreating.store(1);
  log.Log(kLogLevelError, "lost");
  log.state()->lockCreating.store(0);
  log.Log(kLogLevelError, "kept");
  auto records = log.Drain();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].text, "kept\n");
  EXPECT_NE(log.state()->lock.load(), nullptr);
}

TEST(LogWriters, LineWritersGetLinesWholeWritersTheRecord) {
  TestLogState log;
  RecordingWriter lines(false, 31);
  RecordingWriter whole(true, 31);
  log.AddWriter(lines.writer());  // the line writer first: continuation must not leak
  log.AddWriter(whole.writer());
  log.Log(kLogLevelError, "one\ntwo\nthree");
  log.Log(kLogLevelError, "single");

  auto lineCalls = lines.calls();
  ASSERT_EQ(lineCalls.size(), 4u);
  const char* expectedLines[] = {"one\n", "two\n", "three\n", "single\n"};
  const std::uint8_t expectedContinuation[] = {0, 1, 1, 0};
  for (std::size_t i = 0; i < lineCalls.size(); ++i) {
    EXPECT_EQ(lineCalls[i].text, expectedLines[i]);
    EXPECT_EQ(lineCalls[i].continuation, expectedContinuation[i]);
  }
  auto wholeCalls = whole.calls();
  ASSERT_EQ(wholeCalls.size(), 2u);
  EXPECT_EQ(wholeCalls[0].text, "one\ntwo\nthree\n");
  EXPECT_EQ(wholeCalls[0].continuation, 0);
  EXPECT_EQ(wholeCalls[1].text, "single\n");
  EXPECT_TRUE(log.Drain().empty());  // dispatched records do not stay in the ring
}

TEST(LogWriters, MaxLevelLimitsDefaultModuleOnly) {
  TestLogState log;
  log.state()->defaultThresholds.recordThreshold = 31;
  RecordingWriter off(true, -1);
  RecordingWriter errors(true, 2);
  RecordingWriter errorLines(false, 2);
  log.AddWriter(off.writer());
  log.AddWriter(errors.writer());
  log.AddWriter(errorLines.writer());
  for (std::uint32_t level = 0; level <= 5; ++level) log.Log(level, "level %u", level);
  const std::vector<std::string> expected = {"level 0\n", "level 1\n", "level 2\n"};
  EXPECT_EQ(errors.texts(), expected);
  EXPECT_EQ(errorLines.texts(), expected);
  EXPECT_TRUE(off.texts().empty());

  // A numbered module's record that reached the record path is not limited by maxLevel
  // (the built-in module table switches them all off, so it is dispatched directly).
  LogRecordHeader header{};
  header.module = &kLogModuleInfo[41].thresholds;
  header.level = &kLogLevelInfo[7];
  LogDispatch(log.state(), &header, 7, "module\n");
  EXPECT_EQ(errors.texts().back(), "module\n");
  EXPECT_EQ(errorLines.texts().back(), "module\n");
  EXPECT_TRUE(off.texts().empty());
}

TEST(LogWriters, RingIsFlushedToWritersOldestFirstWithOriginalHeaders) {
  SetThreadDescriptionFn setDescription = SetThreadDescriptionFunction();
  ASSERT_NE(setDescription, nullptr);
  TestLogState log;
  log.Log(kLogLevelError, "first");
  std::thread([&] {
    setDescription(GetCurrentThread(), L"earlier thread");
    log.Log(kLogLevelError, "second");
  }).join();
  Sleep(20);  // a later timestamp for the third record

  RecordingWriter writer(true, 31);
  log.AddWriter(writer.writer());
  log.Log(kLogLevelError, "third");
  auto calls = writer.calls();
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_EQ(calls[0].text, "first\n");
  EXPECT_EQ(calls[1].text, "second\n");
  EXPECT_EQ(calls[2].text, "third\n");
  EXPECT_EQ(calls[1].threadName, "earlier thread");
  EXPECT_NE(calls[2].threadName, "earlier thread");
  EXPECT_LE(calls[0].dateTime, calls[2].dateTime);
  EXPECT_EQ(log.ring()->used, 0u);
}

TEST(LogWriters, NestedLoggingFromWriterAndTagProviderGoesToTheRing) {
  TestLogState log;
  RecordingWriter writer(true, 31);
  writer.onWrite = [&](const WriterCall& call) {
    if (call.text == "outer one\n") log.Log(kLogLevelError, "from the writer");
  };
  log.AddWriter(writer.writer());
  struct Provider {
    LogTagProvider provider;
    TestLogState* log;
    int calls = 0;
  } provider{{[](LogTagProvider* self, std::size_t capacity, char* tag) {
                auto* outer = static_cast<Provider*>(self->context);
                if (outer->calls++ == 0) outer->log->Log(kLogLevelError, "from the tag provider");
                Base_Strcpy(tag, "tag", capacity);
                return true;
              },
              nullptr},
             &log};
  provider.provider.context = &provider;
  log.state()->tagProvider = &provider.provider;

  log.Log(kLogLevelError, "outer one");
  // The nested records wait in the ring; the writer was not re-entered.
  EXPECT_EQ(writer.texts(), std::vector<std::string>{"outer one\n"});
  EXPECT_NE(log.ring()->used, 0u);
  EXPECT_EQ(log.state()->depth, 0u);

  log.Log(kLogLevelError, "outer two");
  const std::vector<std::string> expected = {"outer one\n", "from the tag provider\n",
                                             "from the writer\n", "outer two\n"};
  EXPECT_EQ(writer.texts(), expected);
  EXPECT_EQ(log.ring()->used, 0u);
}

TEST(LogRecordHeader, TagProviderFillsTheTag) {
  const struct {
    const char* written;
    bool result;
    std::string expectedTag;
  } cases[] = {
      {"session-7", true, "session-7"},
      // A provider that fills all 33 bytes: true makes the last one a NUL.
      {"0123456789abcdef0123456789abcdefXYZ", true, "0123456789abcdef0123456789abcdef"},
      // False leaves the tag as the provider wrote it.
      {"0123456789abcdef0123456789abcdefXYZ", false, "0123456789abcdef0123456789abcdefX"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.expectedTag);
    TestLogState log;
    struct Provider {
      LogTagProvider provider;
      const char* text;
      bool result;
    } provider{{[](LogTagProvider* self, std::size_t capacity, char* tag) {
                  auto* outer = static_cast<Provider*>(self->context);
                  const std::size_t length = std::strlen(outer->text);
                  std::memcpy(tag, outer->text, length < capacity ? length : capacity);
                  return outer->result;
                },
                nullptr},
               c.written,
               c.result};
    provider.provider.context = &provider;
    log.state()->tagProvider = &provider.provider;
    log.Log(kLogLevelError, "tagged");
    auto records = log.Drain();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(std::string(records[0].header.tag, strnlen(records[0].header.tag, kLogTagSize)),
              c.expectedTag);
  }
  TestLogState untagged;
  untagged.Log(kLogLevelError, "untagged");
  const LogRecordHeader header = untagged.Drain().at(0).header;
  for (char byte : header.tag) EXPECT_EQ(byte, '\0');
}

TEST(LogRecordHeader, ThreadNameIsRecordedAndCut) {
  SetThreadDescriptionFn setDescription = SetThreadDescriptionFunction();
  ASSERT_NE(setDescription, nullptr);
  const struct {
    const wchar_t* description;  // null: the thread gets none
    std::string expected;
  } cases[] = {
      {nullptr, "*UNKNOWN*"},
      {L"", "*UNKNOWN*"},
      {L"capture", "capture"},
      {L"0123456789012345678901234567890123456789", "0123456789012345678901234567890"},
      // UTF-8 of the name, cut at 31 bytes even inside a character: 30 x 'n', then the
      // first byte of U+00E9.
      {L"nnnnnnnnnnnnnnnnnnnnnnnnnnnnnn\u00e9\u00e9", std::string(30, 'n') + "\xC3"},
      {L"cam \u00e9\U0001F600", "cam \xC3\xA9\xF0\x9F\x98\x80"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.expected);
    TestLogState log;
    std::thread([&] {
      if (c.description != nullptr) setDescription(GetCurrentThread(), c.description);
      log.Log(kLogLevelError, "named");
    }).join();
    auto records = log.Drain();
    ASSERT_EQ(records.size(), 1u);
    const LogRecordHeader& header = records[0].header;
    EXPECT_EQ(std::string(header.threadName), c.expected);
    EXPECT_EQ(header.threadName[31], '\0');
  }
}

// The clock's own conversion against the system's, across leap days, century years and
// the ends of the range the system converts.
TEST(LogPlatformTime, FileTimeConversionMatchesTheSystem) {
  std::vector<std::uint64_t> samples;
  const std::uint64_t kTicksPerDay = 864000000000ULL;
  const std::uint64_t kLastConvertible = 0x7FFFFFFFFFFFFFFFULL;  // FileTimeToSystemTime's limit
  for (std::uint64_t day = 0; day * kTicksPerDay < kLastConvertible; day += 997) {
    samples.push_back(day * kTicksPerDay + (day * 7919 % 86400) * 10000000ULL + day % 10000 * 1000);
  }
  for (WORD year : {1601, 1700, 1900, 2000, 2024, 2100, 2400, 9999, 30827}) {
    for (WORD month : {1, 2, 3, 12}) {
      SYSTEMTIME edge{};
      edge.wYear = year;
      edge.wMonth = month;
      edge.wDay = month == 2 ? (year % 4 == 0 && (year % 100 != 0 || year % 400 == 0) ? 29 : 28)
                             : (month == 3 ? 1 : 31);
      edge.wHour = 23;
      edge.wMinute = 59;
      edge.wSecond = 59;
      edge.wMilliseconds = 999;
      FILETIME fileTime;
      if (SystemTimeToFileTime(&edge, &fileTime)) {
        samples.push_back((static_cast<std::uint64_t>(fileTime.dwHighDateTime) << 32) |
                          fileTime.dwLowDateTime);
      }
    }
  }
  ASSERT_GT(samples.size(), 10000u);
  for (std::uint64_t ticks : samples) {
    FILETIME fileTime{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
    SYSTEMTIME expected;
    ASSERT_TRUE(FileTimeToSystemTime(&fileTime, &expected)) << ticks;
    LogSystemTime actual{};
    LogPlatform_TimeFromFileTime(ticks, &actual);
    ASSERT_EQ(actual.year, expected.wYear) << ticks;
    ASSERT_EQ(actual.month, expected.wMonth) << ticks;
    ASSERT_EQ(actual.day, expected.wDay) << ticks;
    ASSERT_EQ(actual.hour, expected.wHour) << ticks;
    ASSERT_EQ(actual.minute, expected.wMinute) << ticks;
    ASSERT_EQ(actual.second, expected.wSecond) << ticks;
    ASSERT_EQ(actual.milliseconds, expected.wMilliseconds) << ticks;
  }
}

// The name is looked up again at least every 100 ms, so a rename shows up soon after.
TEST(LogRecordHeader, ThreadRenameShowsInLaterRecords) {
  SetThreadDescriptionFn setDescription = SetThreadDescriptionFunction();
  ASSERT_NE(setDescription, nullptr);
  TestLogState log;
  std::thread([&] {
    setDescription(GetCurrentThread(), L"before");
    log.Log(kLogLevelError, "one");
    setDescription(GetCurrentThread(), L"after");
    Sleep(250);
    log.Log(kLogLevelError, "two");
  }).join();
  auto records = log.Drain();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_STREQ(records[0].header.threadName, "before");
  EXPECT_STREQ(records[1].header.threadName, "after");
}

TEST(LogRecordHeader, FieldsAndTimestamp) {
  LogRecordHeader header;
  std::memset(&header, 0x5A, sizeof header);
  LogFormatTimestampAt(&header, LogSystemTime{2026, 1, 2, 3, 4, 5, 7});
  EXPECT_STREQ(header.dateTime, "2026-01-02T03:04:05");
  EXPECT_STREQ(header.milliseconds, ".007");
  EXPECT_STREQ(header.zone, "Z");
  LogFormatTimestampAt(&header, LogSystemTime{1999, 12, 31, 23, 59, 58, 999});
  EXPECT_STREQ(header.dateTime, "1999-12-31T23:59:58");
  EXPECT_STREQ(header.milliseconds, ".999");
  LogFormatTimestampAt(&header, LogSystemTime{30827, 12, 31, 23, 59, 59, 999});  // widens
  EXPECT_STREQ(header.dateTime, "30827-12-31T23:59:59");
  EXPECT_STREQ(header.milliseconds, ".999");

  // A live record carries the UTC time of the call, and zeros where nothing was written.
  auto stamp = [] {
    SYSTEMTIME now;
    GetSystemTime(&now);
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03d", now.wYear, now.wMonth,
                  now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds);
    return std::string(text);
  };
  TestLogState log;
  const std::string before = stamp();
  log.Log(kLogLevelError, "timed");
  const std::string after = stamp();
  const LogRecordHeader live = log.Drain().at(0).header;
  const std::string recorded = std::string(live.dateTime) + live.milliseconds;
  EXPECT_LE(before, recorded);
  EXPECT_GE(after, recorded);
  EXPECT_STREQ(live.zone, "Z");
  EXPECT_EQ(live.continuation, 0);
  EXPECT_EQ(live.level, &kLogLevelInfo[2]);
  for (std::uint8_t byte : live.reserved) EXPECT_EQ(byte, 0);
  EXPECT_EQ(live.dateTime[19], '\0');
  for (std::size_t i = 20; i < sizeof live.dateTime; ++i) EXPECT_EQ(live.dateTime[i], '\0');
}

TEST(LogFacility, ConcurrentCallersKeepRecordsWholeAndInOrder) {
  constexpr int kThreads = 4;
  constexpr int kMessages = 3000;
  TestLogState log;
  RecordingWriter writer(true, 31);
  log.AddWriter(writer.writer());
  std::atomic<bool> go{false};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      while (!go.load()) std::this_thread::yield();
      for (int i = 0; i < kMessages; ++i) {
        // Every tenth message is long enough to compete for the spare buffer.
        if (i % 10 == 0) {
          log.Log(kLogLevelError, "t%d n%d %s", t, i, std::string(400, 'x').c_str());
        } else {
          log.Log(kLogLevelError, "t%d n%d", t, i);
        }
      }
    });
  }
  go.store(true);
  for (std::thread& thread : threads) thread.join();

  auto texts = writer.texts();
  ASSERT_EQ(texts.size(), static_cast<std::size_t>(kThreads * kMessages));
  int lastSeen[kThreads] = {-1, -1, -1, -1};
  for (const std::string& text : texts) {
    int t = -1, i = -1;
    ASSERT_EQ(std::sscanf(text.c_str(), "t%d n%d", &t, &i), 2) << text;
    ASSERT_TRUE(t >= 0 && t < kThreads);
    ASSERT_EQ(i, lastSeen[t] + 1);
    lastSeen[t] = i;
    ASSERT_EQ(text.back(), '\n');
  }
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(lastSeen[t], kMessages - 1);
  EXPECT_EQ(log.state()->spareSlot.load(), log.state()->spareBuffer);
  EXPECT_EQ(log.state()->depth, 0u);
  EXPECT_EQ(log.ring()->used, 0u);
}

}  // namespace
