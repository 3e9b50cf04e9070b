// The overflow trim and the formatter contract it relies on.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "log/log_base.h"
#include "log/log_record.h"

namespace {

// The byte tails that end an overflowed buffer, and how many bytes the trim keeps in
// front of its newline, counted back from size - 1 (where the formatter put the NUL).
struct TrimCase {
  const char* name;
  const char* tail;          // the last bytes before the NUL
  std::size_t keptFromEnd;   // kept = (size - 1) - keptFromEnd
};

const TrimCase kTrimCases[] = {
    // The last character gives way to the newline.
    {"ascii", "ab", 1},
    {"whole two-byte", "a\xC3\xA9", 2},
    {"whole three-byte", "a\xE2\x82\xAC", 3},
    {"whole four-byte", "a\xF0\x9F\x98\x80", 4},
    // A cut character goes, and the newline takes the place of the one before it.
    {"cut two-byte", "ab\xC3", 2},
    {"cut three-byte after one", "ab\xE2\x82", 3},
    {"cut three-byte, lead only", "ab\xE2", 2},
    {"cut four-byte", "ab\xF0\x9F\x98", 4},
    {"cut after a whole two-byte", "a\xC3\xA9\xE2\x82", 4},
};

// Fills a buffer of size + 1 bytes (the last a guard) the way the formatter leaves an
// overflowed message: ASCII, then the tail, ending at size - 2, a NUL at size - 1.
std::vector<char> OverflowedBuffer(std::size_t size, const char* tail) {
  std::vector<char> buffer(size + 1, 'x');
  const std::size_t tailLength = std::strlen(tail);
  std::memcpy(buffer.data() + (size - 1 - tailLength), tail, tailLength);
  buffer[size - 1] = '\0';
  buffer[size] = 0x5A;
  return buffer;
}

TEST(LogTrimUtf8, KeepsWholeCharactersAndEndsInNewlineAtBothBufferSizes) {
  for (std::size_t size : {std::size_t{319}, std::size_t{32767}}) {
    for (const TrimCase& c : kTrimCases) {
      SCOPED_TRACE(std::string(c.name) + " at size " + std::to_string(size));
      std::vector<char> buffer = OverflowedBuffer(size, c.tail);
      const std::string before(buffer.data(), size - 1);
      const std::size_t kept = (size - 1) - c.keptFromEnd;

      const std::size_t length = LogTrimUtf8(size, buffer.data());

      ASSERT_EQ(length, kept + 1);
      EXPECT_EQ(std::string(buffer.data(), kept), before.substr(0, kept));
      EXPECT_EQ(buffer[kept], '\n');
      EXPECT_EQ(buffer[kept + 1], '\0');
      EXPECT_EQ(buffer[size], 0x5A);
    }
  }
  // Plain ASCII keeps size - 2 characters: 317 and 32765.
  std::vector<char> first = OverflowedBuffer(319, "x");
  EXPECT_EQ(LogTrimUtf8(319, first.data()), 318u);
}

TEST(LogTrimUtf8, TinyBuffers) {
  struct Case {
    std::size_t size;
    const char* content;  // size - 1 bytes
    const char* expected;
  };
  const Case cases[] = {
      {2, "a", "\n"},
      {2, "\xC3", "\n"},             // a cut character alone
      {3, "\xC3\xA9", "\n"},         // one whole character gives way
      {4, "\xE2\x82\xAC", "\n"},
      {3, "\x82\xAC", "\n"},         // only continuation bytes
      {4, "a\xE2\x82", "\n"},        // cut, and the newline replaces "a"
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.size);
    std::vector<char> buffer(c.size + 1, 0x5A);
    std::memcpy(buffer.data(), c.content, c.size - 1);
    buffer[c.size - 1] = '\0';
    const std::size_t length = LogTrimUtf8(c.size, buffer.data());
    EXPECT_EQ(std::string(buffer.data(), length), c.expected);
    EXPECT_EQ(buffer[length], '\0');
    EXPECT_EQ(buffer[c.size], 0x5A);
  }
  // A one-byte buffer has no room for a newline and a NUL: it stays an empty text.
  char one[2] = {'q', 0x5A};
  EXPECT_EQ(LogTrimUtf8(1, one), 0u);
  EXPECT_EQ(one[0], '\0');
  EXPECT_EQ(one[1], 0x5A);
}

TEST(BaseVsnprintf, ReturnsLengthWhenItFitsElseMinusOneWithCutText) {
  struct Case {
    std::size_t size;
    int expectedResult;
    const char* expectedText;
  };
  // "id=42 name=cam" is 14 bytes.
  const Case cases[] = {
      {64, 14, "id=42 name=cam"}, {15, 14, "id=42 name=cam"}, {14, -1, "id=42 name=ca"},
      {6, -1, "id=42"},           {1, -1, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.size);
    std::vector<char> buffer(c.size + 1, 0x5A);
    const int result = Base_Sprintf(buffer.data(), c.size, "id=%d name=%s", 42, "cam");
    EXPECT_EQ(result, c.expectedResult);
    EXPECT_STREQ(buffer.data(), c.expectedText);
    EXPECT_EQ(buffer[c.size], 0x5A);
  }
  char untouched = 0x5A;
  EXPECT_EQ(Base_Sprintf(&untouched, 0, "%s", "x"), -1);
  EXPECT_EQ(untouched, 0x5A);
}

TEST(BaseVsnprintf, UsesC99Conversions) {
  char buffer[64];
  ASSERT_GT(Base_Sprintf(buffer, sizeof buffer, "%zu|%lld|%hhu|%x|%04d", std::size_t{7},
                         -9000000000LL, static_cast<unsigned char>(300 & 0xFF), 0x80004005u, 7),
            0);
  EXPECT_STREQ(buffer, "7|-9000000000|44|80004005|0007");
}

TEST(BaseStrcpy, CutsAndTerminates) {
  char buffer[6];
  std::memset(buffer, 0x5A, sizeof buffer);
  Base_Strcpy(buffer, "camera", 5);
  EXPECT_STREQ(buffer, "came");
  EXPECT_EQ(buffer[5], 0x5A);
  Base_Strcpy(buffer, "mic", 5);
  EXPECT_STREQ(buffer, "mic");
}

}  // namespace
