// The record ring: entry accounting, wrapping (also inside the length field) and
// drop-oldest, over the real capacity and small ones that are not powers of two.
#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "log_test_state.h"

namespace {

using kestrel_test::PopAll;

constexpr std::size_t kEntryOverhead = 2 + sizeof(LogRecordHeader);

struct RingUnderTest {
  explicit RingUnderTest(std::size_t capacity) : storage(capacity + 1, 0xEE) {
    LogRing_Init(&ring, storage.data(), capacity);
  }
  // Pushes a text of the given length whose bytes say which record it is.
  std::string Push(std::size_t length, char fill) {
    std::string text(length, fill);
    LogRecordHeader header;
    std::memset(&header, fill, sizeof header);
    LogRing_Push(&ring, &header, text.size(), text.data());
    return text;
  }
  std::uint8_t Guard() const { return storage.back(); }

  std::vector<std::uint8_t> storage;  // one guard byte after the capacity
  LogRing ring;
};

TEST(LogRing, EntryTakesLengthHeaderAndText) {
  RingUnderTest ring(kLogRingCapacity);
  ring.Push(100, 'a');
  EXPECT_EQ(ring.ring.used, 246u);
  const std::size_t stored = ring.storage[0] | (ring.storage[1] << 8);
  EXPECT_EQ(stored, 244u);

  auto records = PopAll(&ring.ring);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].text, std::string(100, 'a'));
  LogRecordHeader expected;
  std::memset(&expected, 'a', sizeof expected);
  EXPECT_EQ(std::memcmp(&records[0].header, &expected, sizeof expected), 0);
  EXPECT_EQ(ring.ring.used, 0u);
}

TEST(LogRing, LengthFieldSplitOverTheEnd) {
  RingUnderTest ring(1000);
  // The first entry ends on byte 998, so the next length field starts on the last byte.
  ring.Push(1000 - 1 - kEntryOverhead, 'a');
  ASSERT_EQ(ring.ring.write, ring.ring.start + 999);
  // A 300-byte text stores length 444 = 0x01BC: 0xBC on the last byte, 0x01 at the start.
  const std::string text = ring.Push(300, 'b');
  EXPECT_EQ(ring.storage[999], 0xBC);
  EXPECT_EQ(ring.storage[0], 0x01);
  EXPECT_EQ(ring.Guard(), 0xEE);

  auto records = PopAll(&ring.ring);
  ASSERT_EQ(records.size(), 1u);  // the first entry made room
  EXPECT_EQ(records[0].text, text);
  EXPECT_EQ(records[0].header.continuation, static_cast<std::uint8_t>('b'));
  EXPECT_EQ(ring.ring.used, 0u);
  EXPECT_EQ(ring.ring.read, ring.ring.write);
}

TEST(LogRing, DropsOldestWhenEntryIsAtLeastTheFreeSpace) {
  struct Case {
    std::size_t newText;
    std::vector<char> expectedLeft;
  };
  // Two 246-byte entries leave 508 of 1000 bytes free.
  const Case cases[] = {
      {508 - kEntryOverhead - 1, {'a', 'b', 'c'}},  // entry 507: fits, one byte stays free
      {508 - kEntryOverhead, {'b', 'c'}},           // entry 508 == free: the oldest goes
      {1000 - kEntryOverhead - 246, {'c'}},         // needs more than one entry dropped
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.newText);
    RingUnderTest ring(1000);
    ring.Push(100, 'a');
    ring.Push(100, 'b');
    ring.Push(c.newText, 'c');
    std::size_t expectedUsed = 0;
    for (char fill : c.expectedLeft) expectedUsed += (fill == 'c' ? c.newText : 100) + kEntryOverhead;
    EXPECT_EQ(ring.ring.used, expectedUsed);
    auto records = PopAll(&ring.ring);
    ASSERT_EQ(records.size(), c.expectedLeft.size());
    for (std::size_t i = 0; i < records.size(); ++i) {
      EXPECT_EQ(records[i].text.at(0), c.expectedLeft[i]);
    }
  }
}

TEST(LogRing, SixtyThousandUsedThenTenThousandByteEntry) {
  RingUnderTest ring(kLogRingCapacity);
  for (char fill = 'a'; fill < 'g'; ++fill) ring.Push(10000 - kEntryOverhead, fill);
  ASSERT_EQ(ring.ring.used, 60000u);
  ring.Push(10000 - kEntryOverhead, 'g');
  EXPECT_EQ(ring.ring.used, 60000u);
  auto records = PopAll(&ring.ring);
  ASSERT_EQ(records.size(), 6u);
  EXPECT_EQ(records.front().text[0], 'b');
  EXPECT_EQ(records.back().text[0], 'g');
}

// Against a simple model: many pushes of varied sizes wrap the storage many times and
// put length fields at every offset; the ring must always hold exactly the newest
// entries that fit, each intact.
TEST(LogRing, LongRunMatchesModel) {
  for (std::size_t capacity : {std::size_t{997}, std::size_t{4099}, kLogRingCapacity}) {
    SCOPED_TRACE(capacity);
    RingUnderTest ring(capacity);
    std::deque<std::string> model;
    std::size_t modelUsed = 0;
    unsigned seed = 12345;
    for (int step = 0; step < 3000; ++step) {
      seed = seed * 1103515245u + 12345u;
      const std::size_t maxText = capacity - kEntryOverhead;
      const std::size_t length = (seed >> 8) % (maxText < 700 ? maxText + 1 : 700);
      const char fill = static_cast<char>('A' + step % 50);
      const std::size_t entry = length + kEntryOverhead;
      while (!model.empty() && entry >= capacity - modelUsed) {
        modelUsed -= model.front().size() + kEntryOverhead;
        model.pop_front();
      }
      model.push_back(ring.Push(length, fill));
      modelUsed += entry;
      ASSERT_EQ(ring.ring.used, modelUsed);
      ASSERT_EQ(ring.Guard(), 0xEE);
      if (step % 97 == 0) {
        // Pop a few and check them against the model's oldest.
        for (int k = 0; k < 2 && !model.empty(); ++k) {
          LogRecordHeader header;
          std::vector<char> text(capacity);
          std::size_t popped = 0;
          ASSERT_TRUE(LogRing_Pop(&ring.ring, text.size(), &header, &popped, text.data()));
          ASSERT_EQ(std::string(text.data(), popped), model.front());
          modelUsed -= model.front().size() + kEntryOverhead;
          model.pop_front();
        }
      }
    }
    auto records = PopAll(&ring.ring, capacity);
    ASSERT_EQ(records.size(), model.size());
    for (std::size_t i = 0; i < records.size(); ++i) EXPECT_EQ(records[i].text, model[i]);
  }
}

TEST(LogRing, LargestFacilityEntryFitsAnEmptyRing) {
  RingUnderTest ring(kLogRingCapacity);
  ring.Push(5000, 'x');
  PopAll(&ring.ring);  // leaves the positions mid-storage
  const std::string text = ring.Push(32767, 'y');
  EXPECT_EQ(ring.ring.used, 32767u + 146u);
  auto records = PopAll(&ring.ring);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].text, text);
}

TEST(LogRing, RefusesEntryLargerThanStorage) {
  RingUnderTest ring(300);
  const std::string kept = ring.Push(100, 'a');
  ring.Push(300 - kEntryOverhead + 1, 'b');
  auto records = PopAll(&ring.ring);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].text, kept);
  EXPECT_EQ(ring.Guard(), 0xEE);
}

TEST(LogRing, PopCutsTextLongerThanCapacity) {
  struct Case {
    std::size_t capacity;
    const char* expected;
  };
  // "abc", a two-byte character, "z" and a newline: 7 bytes.
  const Case cases[] = {
      {8, "abc\xC3\xA9z\n"},  // fits whole
      {7, "abc\xC3\xA9\n"},   // 6 bytes read, whole; the newline replaces "z"
      {6, "abc\n"},           // 5 bytes read, whole; the newline replaces the last character
      {5, "ab\n"},            // 4 bytes read, the character is cut and dropped
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.capacity);
    RingUnderTest ring(1000);
    LogRecordHeader header{};
    const std::string text = "abc\xC3\xA9z\n";
    LogRing_Push(&ring.ring, &header, text.size(), text.data());
    ring.Push(10, 'n');

    std::vector<char> out(c.capacity + 1, 0x5A);
    std::size_t length = 0;
    ASSERT_TRUE(LogRing_Pop(&ring.ring, c.capacity, &header, &length, out.data()));
    EXPECT_EQ(std::string(out.data(), length), c.expected);
    EXPECT_EQ(out[length], '\0');
    EXPECT_EQ(out[c.capacity], 0x5A);
    // The rest of a cut text was skipped: the next entry comes out whole.
    auto rest = PopAll(&ring.ring);
    ASSERT_EQ(rest.size(), 1u);
    EXPECT_EQ(rest[0].text, std::string(10, 'n'));
  }
}

}  // namespace
