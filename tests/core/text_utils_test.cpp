#include "core/text_utils.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct Utf8Case {
  const char* utf8;
  const wchar_t* wide;
};

// Well-formed text converts the same both ways: one, one and two code units for two-,
// three- and four-byte sequences.
const Utf8Case kWellFormed[] = {
    {"", L""},
    {"plain ASCII", L"plain ASCII"},
    {"\xC3\xA9", L"\u00E9"},
    {"\xE2\x82\xAC", L"\u20AC"},
    {"\xF0\x9F\x8E\xA5", L"\xD83C\xDFA5"},
    {"Mic \xC3\xA9\xE2\x82\xAC\xF0\x9F\x8E\xA5 end", L"Mic \u00E9\u20AC\xD83C\xDFA5 end"},
};

TEST(TextConversion, WellFormedTextRoundTrips) {
  for (const Utf8Case& c : kWellFormed) {
    SCOPED_TRACE(c.utf8);
    EXPECT_EQ(ConvertUtf8ToWide(c.utf8), std::wstring(c.wide));
    EXPECT_EQ(ConvertWideToUtf8(c.wide), std::string(c.utf8));
  }
}

TEST(TextConversion, IllFormedUtf8BecomesReplacementCharacters) {
  const Utf8Case cases[] = {
      {"a\xFF" "b", L"a\uFFFDb"},      // byte that never occurs in UTF-8
      {"a\x80" "b", L"a\uFFFDb"},      // continuation byte without a lead
      {"ab\xE2\x82", L"ab\uFFFD"},     // sequence cut by the end of the text
      {"\xC3" "x", L"\uFFFDx"},        // lead byte followed by a non-continuation
  };
  for (const Utf8Case& c : cases) {
    SCOPED_TRACE(c.utf8);
    EXPECT_EQ(ConvertUtf8ToWide(c.utf8), std::wstring(c.wide));
  }
}

TEST(TextConversion, UnpairedSurrogatesBecomeReplacementCharacters) {
  const Utf8Case cases[] = {
      {"\xEF\xBF\xBD", L"\xD800"},                      // lone high surrogate
      {"a\xEF\xBF\xBD" "b", L"a\xDC00" L"b"},           // lone low surrogate inside text
      {"\xEF\xBF\xBD\xEF\xBF\xBD", L"\xDE00\xD83D"},    // a pair in the wrong order
      {"\xF0\x9F\x8E\xA5\xEF\xBF\xBD", L"\xD83C\xDFA5\xD83C"},  // pair, then a cut one
  };
  for (const Utf8Case& c : cases) {
    SCOPED_TRACE(c.utf8);
    EXPECT_EQ(ConvertWideToUtf8(c.wide), std::string(c.utf8));
  }
}

TEST(TextConversion, NullPointersAreEmptyText) {
  EXPECT_EQ(ConvertUtf8ToWide(nullptr), std::wstring());
  EXPECT_EQ(ConvertWideToUtf8(nullptr), std::string());
}

TEST(TextConversion, ToLowerWorksCodeUnitByCodeUnit) {
  EXPECT_EQ(ConvertToLower(L"{0.0.1.00000000}.{A1B2C3D4-E5F6-ABCD-EF01-23456789ABCD}"),
            L"{0.0.1.00000000}.{a1b2c3d4-e5f6-abcd-ef01-23456789abcd}");
  // Surrogates are not letters and pass through unchanged.
  EXPECT_EQ(ConvertToLower(L"X\xD83C\xDFA5Y"), L"x\xD83C\xDFA5y");
  EXPECT_EQ(ConvertToLower(L""), L"");
}

TEST(NumberText, DwordIsFormattedAsSigned32BitDecimal) {
  const struct {
    DWORD value;
    const wchar_t* text;
  } cases[] = {
      {0, L"0"},
      {7, L"7"},
      {65536, L"65536"},
      {2147483647u, L"2147483647"},
      {2147483648u, L"-2147483648"},
      {4294967295u, L"-1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    std::wstring out = L"previous content";
    EXPECT_TRUE(ConvertDWORDToString(c.value, out));
    EXPECT_EQ(out, c.text);
  }
}

TEST(NumberText, StringToBoolAcceptsTrueInAnyCaseOrANonZeroLeadingNumber) {
  const struct {
    const wchar_t* text;
    bool expected;
  } cases[] = {
      {L"", false},        {L"true", true},     {L"TRUE", true},    {L"tRuE", true},
      {L"false", false},   {L"0", false},       {L"2", true},       {L"-1", true},
      {L"12abc", true},    {L"yes", false},     {L" true", false},  {L"true ", false},
      {L"  7", true},      {L"+0", false},      {L"00", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "text index " << (&c - cases));
    EXPECT_EQ(ConvertStringToBool(c.text), c.expected);
  }
}

TEST(NumberText, StringToDwordTakesTheLeadingSignedNumber) {
  const struct {
    const wchar_t* text;
    DWORD expected;
  } cases[] = {
      {L"", 0},          {L"abc", 0},        {L"42", 42},        {L"42abc", 42},
      {L"-1", 4294967295u},                  {L" +7", 7},        {L"2147483647", 2147483647u},
      {L"Default", 0},   {L"3.9", 3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "text index " << (&c - cases));
    EXPECT_EQ(ConvertStringToDWORD(c.text), c.expected);
  }
}

}  // namespace
