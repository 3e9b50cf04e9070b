// The log facility on a state of the test's own: filtering, the header, the text rules,
// the two buffers and the ring. Portable: the host build runs it under ASan+UBSan as well.
// (Its locking is proved by the compiler's thread-safety analysis.)
#include <gtest/gtest.h>

#include <cstdio>
#include <chrono>
#include <cstring>
#include <ctime>
#include <set>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "log/log.h"
#include "log/log_record.h"
#include "log/log_ring.h"
#include "log/log_state.h"

namespace {

constexpr std::size_t kEntryOverhead = 2 + sizeof(LogRecordHeader);

struct Popped {
  LogRecordHeader header;
  std::string text;
};

void Format(LogState* state, std::uint32_t levelWord, const char* format, ...) {
  va_list args;
  va_start(args, format);
  LogV(state, levelWord, format, args);
  va_end(args);
}

// A state and a ring of the test's own; a guard byte follows the ring's storage.
struct TestLog {
  explicit TestLog(std::size_t capacity = kLogRingCapacity) : storage(capacity + 1, 0xEE) {
    LogRing_Init(&ring, storage.data(), capacity);
    LogState_Init(state.get(), &ring);
  }
  ~TestLog() { RecLock_Destroy(state->lock.load()); }
  void Log(std::uint32_t levelWord, const std::string& text) {
    Format(state.get(), levelWord, "%s", text.c_str());
  }
  // A text whose bytes and header bytes say which entry it is.
  std::string Push(std::size_t length, char fill) {
    std::string text(length, fill);
    LogRecordHeader header;
    std::memset(&header, fill, sizeof header);
    LogRing_Push(&ring, &header, text.size(), text.data());
    return text;
  }
  std::vector<Popped> Drain(std::size_t capacity = kLogFlushBufferSize) {
    std::vector<Popped> records;
    std::vector<char> text(capacity);
    Popped record;
    std::size_t length = 0;
    while (LogRing_Pop(&ring, capacity, &record.header, &length, text.data())) {
      record.text.assign(text.data(), length);
      records.push_back(record);
    }
    return records;
  }
  std::vector<std::uint8_t> storage;
  LogRing ring;
  std::unique_ptr<LogState> state = std::make_unique<LogState>();
};

std::uint32_t Word(std::uint32_t module, std::uint32_t level) { return module << 5 | level; }

TEST(Log, FiltersByLevelAndModuleWithSignedThresholds) {
  struct Case {
    std::uint32_t levelWord;
    std::int32_t recordThreshold;  // of the default module
    const char* levelName;         // nullptr: dropped
    const char* subsystem;
  };
  const Case cases[] = {
      {2, 5, "error", "kestrel"},
      {5, 5, "info", "kestrel"},
      {6, 5, nullptr},
      {Word(5, 2), 5, nullptr},  // every numbered module is off (-1)
      {Word(314, 2), 5, nullptr},
      {Word(315, 2), 5, "error", "interface"},  // the library's subsystems filter as module 0
      {Word(321, 2), 5, "error", "kestrel"},
      {Word(5, 0), 5, "audit", "accountUtil"},  // level 0 always records
      {2, -1, nullptr},
      {23, 31, "debug15", "kestrel"},
      {24, 31, "info", "kestrel"},  // levels past the table record as "info"
  };
  for (const Case& c : cases) {
    TestLog log;
    log.state->defaultThresholds.recordThreshold = c.recordThreshold;
    log.Log(c.levelWord, "m");
    const auto records = log.Drain();
    SCOPED_TRACE(testing::Message() << "level word " << c.levelWord);
    ASSERT_EQ(records.size(), c.levelName ? 1u : 0u);
    if (c.levelName) {
      EXPECT_STREQ(records[0].header.level->name, c.levelName);
      EXPECT_STREQ(records[0].header.subsystem, c.subsystem);
    }
  }
}

TEST(Log, TheHeaderHoldsTheUtcTimeAndZerosWhereNothingWasSaid) {
  using namespace std::chrono;
  TestLog log;
  const auto before = time_point_cast<milliseconds>(system_clock::now());
  log.Log(2, "m");
  const auto after = system_clock::now();
  const auto records = log.Drain();
  ASSERT_EQ(records.size(), 1u);
  const LogRecordHeader& header = records[0].header;
  std::set<std::string> stamps;  // each millisecond between the readings, and a little more
  for (auto t = before - 2ms; t <= after + 2ms; t += 1ms) {
    const std::time_t seconds = system_clock::to_time_t(t);
    char text[kLogDateTimeSize + kLogMillisecondsSize] = {};
    const std::size_t length =
        std::strftime(text, kLogDateTimeSize, "%Y-%m-%dT%H:%M:%S", std::gmtime(&seconds));
    std::snprintf(text + length, kLogMillisecondsSize, ".%03d",
                  static_cast<int>((t.time_since_epoch() % 1s).count()));
    stamps.insert(text);
  }
  EXPECT_EQ(stamps.count(std::string(header.dateTime) + header.milliseconds), 1u)
      << header.dateTime << header.milliseconds;
  // Past each text, and in the fields nothing fills, only zeros.
  std::string rest =
      std::string(header.dateTime + 19, sizeof header.dateTime - 19) +
      std::string(header.milliseconds + 4, sizeof header.milliseconds - 4) +
      std::string(header.zone + 1, sizeof header.zone - 1) +
      std::string(header.tag, sizeof header.tag) +
      std::string(reinterpret_cast<const char*>(header.reserved), sizeof header.reserved);
  EXPECT_EQ(rest, std::string(rest.size(), '\0'));
  EXPECT_EQ(header.zone[0], 'Z');
}

TEST(Log, EndsWithOneNewlineAndMasksTheSequence) {
  const std::pair<std::string, std::string> cases[] = {
      {"abc", "abc\n"},   {"abc\n", "abc\n"},     {"", "\n"},
      {"a\nb", "a\nb\n"}, {"ZQXzqx", "******\n"}, {"zzqx", "z***\n"},
      {"zq", "zq\n"},     {"zqzqx.", "zq***.\n"}, {"zQ\nx", "zQ\nx\n"},
  };
  for (const auto& [message, expected] : cases) {
    TestLog log;
    log.Log(2, message);
    const auto records = log.Drain();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].text, expected) << message;
  }
}

TEST(Log, LongMessagesUseTheSpareBufferAndGiveItBack) {
  TestLog log;
  for (std::size_t length : {318, 319, 1000, 1000, 40000}) log.Log(2, std::string(length, 'a'));
  char* spare = log.state->spareSlot.exchange(nullptr);  // another call holds it
  log.Log(2, std::string(1000, 'b'));
  log.state->spareSlot.store(spare);
  const auto records = log.Drain();
  ASSERT_EQ(records.size(), 6u);
  const std::size_t expected[] = {319, 320, 1001, 1001, 32766, 318};
  for (std::size_t i = 0; i < 6; ++i) {
    EXPECT_EQ(records[i].text.size(), expected[i]) << i;
    EXPECT_EQ(records[i].text.back(), '\n') << i;
  }
}

TEST(LogTrimUtf8, KeepsWholeCharactersAndEndsInANewline) {
  struct Case {
    const char* content;  // what the formatter left in a 9-byte buffer: 8 bytes and a NUL
    const char* expected;
  };
  const Case cases[] = {
      {"abcdefgh", "abcdefg\n"},
      {"abcdefg\xC3", "abcdef\n"},
      {"abc\xF0\x9F\x98\x80\x61", "abc\xF0\x9F\x98\x80\n"},
      {"a\xF0\x9F\x98\x80\xF0\x9F\x98", "a\n"},
  };
  for (const Case& c : cases) {
    char buffer[10];
    std::memcpy(buffer, c.content, 8);
    buffer[8] = '\0';
    buffer[9] = 'G';
    const std::size_t length = LogTrimUtf8(9, buffer);
    EXPECT_EQ(std::string(buffer, length), c.expected) << c.content;
    EXPECT_EQ(buffer[length], '\0');
    EXPECT_EQ(buffer[9], 'G');
  }
  char two[3] = {'\xC3', '\0', 'G'};
  EXPECT_EQ(LogTrimUtf8(2, two), 1u);
  EXPECT_EQ(std::string(two, 3), std::string("\n\0G", 3));
  char one[3] = {'G', 'x', 'G'};  // room for the NUL only, between guards
  EXPECT_EQ(LogTrimUtf8(1, one + 1), 0u);
  EXPECT_EQ(std::string(one, 3), std::string("G\0G", 3));
}

// Entries of every length at every place: wrapped texts, headers and length fields too.
TEST(LogRing, HoldsTheNewestEntriesThatFitAgainstAModel) {
  for (std::size_t capacity : {std::size_t{997}, kLogRingCapacity}) {
    TestLog log(capacity);
    std::deque<std::string> model;
    std::size_t modelUsed = 0;
    unsigned seed = 12345;
    for (int step = 0; step < 2000; ++step) {
      seed = seed * 1103515245u + 12345u;
      const std::size_t length = (seed >> 8) % (capacity < 1000 ? capacity - kEntryOverhead : 5000);
      while (!model.empty() && length + kEntryOverhead >= capacity - modelUsed) {
        modelUsed -= model.front().size() - 1 + kEntryOverhead;
        model.pop_front();
      }
      const char fill = static_cast<char>('A' + step % 50);
      model.push_back(fill + log.Push(length, fill));  // the header is filled with it too
      modelUsed += length + kEntryOverhead;
      ASSERT_EQ(log.ring.used, modelUsed) << "step " << step;
    }
    const auto records = log.Drain();
    ASSERT_EQ(records.size(), model.size());
    for (std::size_t i = 0; i < records.size(); ++i) {
      EXPECT_EQ(records[i].header.tag[0] + records[i].text, model[i]);
    }
    EXPECT_EQ(log.storage.back(), 0xEE);
  }
}

TEST(LogRing, EdgesOfTheStorage) {
  TestLog log(1000);
  // An entry larger than the storage is refused; what is there stays.
  log.Push(10, 'c');
  log.Push(1000, 'd');
  // A text longer than the pop capacity is cut on a character boundary, the rest skipped.
  log.Push(0, 'e');
  const std::string text = "ab\xC3\xA9z";
  LogRecordHeader header{};
  LogRing_Push(&log.ring, &header, text.size(), text.data());
  log.Push(5, 'f');
  const auto records = log.Drain(5);
  std::vector<std::string> texts;
  for (const Popped& record : records) texts.push_back(record.text);
  EXPECT_EQ(texts, (std::vector<std::string>{"ccc\n", "", "ab\n", "fff\n"}));
  EXPECT_EQ(log.storage.back(), 0xEE);
}

}  // namespace
